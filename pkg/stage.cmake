# Runs on the staged files before each package is made.  Directories get
# the usual modes: the builder's umask would otherwise reach the package.
file(GLOB_RECURSE staged LIST_DIRECTORIES true
	${CPACK_TEMPORARY_DIRECTORY}/*)
file(CHMOD ${CPACK_TEMPORARY_DIRECTORY} ${staged} DIRECTORY_PERMISSIONS
	OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
	WORLD_READ WORLD_EXECUTE)
