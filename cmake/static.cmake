# Beside the program, the same one linked statically: a download of its
# own for Linux systems without Debian's C library, with the same
# hardening.  Off for sanitizer builds, which cannot link statically.
include(CheckLinkerFlag)
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
parts(ohmrechner-static NOTICES ${CMAKE_BINARY_DIR}/static/LIZENZEN)
