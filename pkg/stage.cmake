# Runs on the staged files before each package is made.  Directories get
# the usual modes: the builder's umask would otherwise reach the package.
file(GLOB_RECURSE staged LIST_DIRECTORIES true
	${CPACK_TEMPORARY_DIRECTORY}/*)
file(CHMOD ${CPACK_TEMPORARY_DIRECTORY} ${staged} DIRECTORY_PERMISSIONS
	OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
	WORLD_READ WORLD_EXECUTE)
# Signed before it goes into any package, so that the program installed
# carries the signature too.
if(EXISTS ${CPACK_TEMPORARY_DIRECTORY}/ohmrechner.exe)
	execute_process(COMMAND ${CPACK_OHMRECHNER_SIGN}
		${CPACK_TEMPORARY_DIRECTORY}/ohmrechner.exe COMMAND_ERROR_IS_FATAL ANY)
endif()
