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
# Fortification needs an optimised build, and a compiler's own default for
# it would clash with ours.
target_compile_options(dialogue PRIVATE -fPIE -fstack-protector-strong
	-fstack-clash-protection -U_FORTIFY_SOURCE
	$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-D_FORTIFY_SOURCE=2>)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i[3-6]86)$")
	target_compile_options(dialogue PRIVATE -fcf-protection)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
	# The same on arm64: signed return addresses, marked branch targets.
	target_compile_options(dialogue PRIVATE -mbranch-protection=standard)
endif()
target_link_options(dialogue INTERFACE LINKER:-z,relro LINKER:-z,now)

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
