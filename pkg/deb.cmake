# cpack writes a .deb's own members with modes from the builder's umask.
# Deterministic ar packs them again as 0644, owned by 0, with no time,
# whoever builds.  Runs before cpack moves the package into place.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
	return()
endif()
find_program(AR ar REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
	set(dir ${deb}.members)
	file(REMOVE_RECURSE ${dir})
	file(MAKE_DIRECTORY ${dir})
	execute_process(COMMAND ${AR} t ${deb} OUTPUT_VARIABLE members
		COMMAND_ERROR_IS_FATAL ANY)
	string(REGEX REPLACE "\n$" "" members "${members}")
	string(REPLACE "\n" ";" members "${members}")
	execute_process(COMMAND ${AR} x ${deb} WORKING_DIRECTORY ${dir}
		COMMAND_ERROR_IS_FATAL ANY)
	file(REMOVE ${deb})
	execute_process(COMMAND ${AR} rcD ${deb} ${members}
		WORKING_DIRECTORY ${dir} COMMAND_ERROR_IS_FATAL ANY)
	file(REMOVE_RECURSE ${dir})
endforeach()
