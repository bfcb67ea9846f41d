# Linux builds carry the hardening Debian asks of its packages, as
# dpkg-buildflags gives it with hardening=+all: a stack protector, checked
# libc calls, stack-clash and control-flow protection, a position-
# independent program whose relocations are bound at start-up and then
# made read-only.
include(CheckPIESupported)
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
