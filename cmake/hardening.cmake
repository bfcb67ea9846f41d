# Linux builds carry the hardening Debian asks of its packages, as
# dpkg-buildflags gives it with hardening=+all: a stack protector, checked
# libc calls, stack-clash and control-flow protection, a position-
# independent program whose relocations are bound at start-up and then
# made read-only.  Beside the program stands the same one linked
# statically, for Linux systems without Debian's C library.
include(CheckPIESupported)
include(CheckLinkerFlag)
check_pie_supported()
set_target_properties(ohmrechner PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_compile_options(dialogue PRIVATE -fPIE)

# A distribution builds with flags of its own.  Where they decide a
# matter, for better or worse, their choice stands, since ours would come
# later on the command line and win; ours fill in only what they leave
# open.
string(TOUPPER "${CMAKE_BUILD_TYPE}" config)
set(given "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${config}} ${cppflags}
	${CMAKE_EXE_LINKER_FLAGS} ${CMAKE_EXE_LINKER_FLAGS_${config}}")
function(harden how choice)
	if(NOT given MATCHES "${choice}")
		cmake_language(CALL target_${how}_options dialogue ${ARGN})
	endif()
endfunction()
harden(compile "-f(no-)?stack-protector" PRIVATE -fstack-protector-strong)
harden(compile "-f(no-)?stack-clash-protection" PRIVATE
	-fstack-clash-protection)
# Fortification needs an optimised build, and a compiler's own default
# for it would clash with ours.
if(given MATCHES "(^|[ \t\n])-O([1-3sgz]|fast)?([ \t\n]|$)")
	harden(compile "_FORTIFY_SOURCE" PRIVATE -U_FORTIFY_SOURCE
		-D_FORTIFY_SOURCE=2)
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i[3-6]86)$")
	harden(compile "-f(no-)?cf-protection" PRIVATE -fcf-protection)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
	# The same on arm64: signed return addresses, marked branch targets.
	harden(compile "-m(no-)?branch-protection" PRIVATE
		-mbranch-protection=standard)
endif()
harden(link "-z,?(no)?relro" INTERFACE LINKER:-z,relro)
harden(link "-z,?(now|lazy)" INTERFACE LINKER:-z,now)

# Off for sanitizer builds, which cannot link statically.
option(OHMRECHNER_STATIC "Build a statically linked twin too" ON)
if(NOT OHMRECHNER_STATIC)
	return()
endif()
add_executable(ohmrechner-static)
# Its download is named for the processor as Linux names it.
string(REGEX REPLACE "^armv7.*" "armv7" static_arch ${CMAKE_SYSTEM_PROCESSOR})
set(static_name ${PROJECT_NAME}-${PROJECT_VERSION}-linux-${static_arch})
target_link_libraries(ohmrechner-static PRIVATE dialogue)
set_target_properties(ohmrechner-static PROPERTIES OUTPUT_NAME ohmrechner
	RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/static)
# Static and still loaded at a random address, where the C library can.
check_linker_flag(CXX -static-pie HAVE_STATIC_PIE)
target_link_options(ohmrechner-static PRIVATE
	$<IF:$<BOOL:${HAVE_STATIC_PIE}>,-static-pie,-static>)
