# What each link takes of other people's code, recorded by the link
# itself in parts/<target>.json, and the notices that a download of the
# program owes them: the release's downloads carry these, its bill of
# materials and build record read the records.  A release build's
# business, and that of every build of the page and the MSI, which name
# the notices: Debian's own build has its copyright file instead.
set(default OFF)
if(OHMRECHNER_RELEASE OR EMSCRIPTEN OR WIN32)
	set(default ON)
endif()
option(OHMRECHNER_NOTICES "Record what each link takes, for the notices"
	${default})
if(OHMRECHNER_NOTICES)
	find_package(Python3 3.11 REQUIRED COMPONENTS Interpreter)
endif()
set(parts_py ${CMAKE_CURRENT_LIST_DIR}/../pkg/parts.py)

# parts(TARGET [NOTICES FILE [CRLF]]): TARGET's link writes its record;
# with NOTICES, a step of TARGET's own writes them to FILE.
function(parts target)
	cmake_parse_arguments(PARSE_ARGV 1 arg "CRLF" "NOTICES" "")
	if(NOT OHMRECHNER_NOTICES)
		return()
	endif()
	set(facts ${CMAKE_BINARY_DIR}/parts/${target}.json)
	file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/parts)
	set_property(TARGET ${target} PROPERTY CXX_LINKER_LAUNCHER
		${Python3_EXECUTABLE} ${parts_py} link ${facts} --)
	set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${parts_py})
	if(NOT arg_NOTICES)
		return()
	endif()
	set(crlf "")
	if(arg_CRLF)
		set(crlf --crlf)
	endif()
	add_custom_command(OUTPUT ${arg_NOTICES}
		COMMAND ${Python3_EXECUTABLE} ${parts_py} notices ${crlf} ${facts}
			${arg_NOTICES}
		DEPENDS ${target} ${parts_py} VERBATIM)
	add_custom_target(${target}-notices ALL DEPENDS ${arg_NOTICES})
endfunction()
