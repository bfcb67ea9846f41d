# cpack's archives keep traces of whoever builds them: a .deb's own
# members take their modes from the umask, a ZIP's and a tarball's entries
# the builder's uid and gid.  Packed again by tools that leave these out,
# they are the same for everyone.  Runs before cpack moves each package
# into place.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
	set(members ${package}.members)
	file(REMOVE_RECURSE ${members})
	if(package MATCHES "[.]deb$")
		# Deterministic ar: 0644, owner 0 and no time for each member.
		find_program(AR ar REQUIRED)
		file(MAKE_DIRECTORY ${members})
		execute_process(COMMAND ${AR} t ${package} OUTPUT_VARIABLE names
			COMMAND_ERROR_IS_FATAL ANY)
		string(STRIP "${names}" names)
		string(REPLACE "\n" ";" names "${names}")
		execute_process(COMMAND ${AR} x ${package}
			WORKING_DIRECTORY ${members} COMMAND_ERROR_IS_FATAL ANY)
		file(REMOVE ${package})
		execute_process(COMMAND ${AR} rcD ${package} ${names}
			WORKING_DIRECTORY ${members} COMMAND_ERROR_IS_FATAL ANY)
	elseif(package MATCHES "[.]tar[.]gz$")
		# GNU tar, sorted, root's, with the commit's time and the modes as
		# installed, whatever the umask; gzip without a name or a time.
		find_program(TAR tar REQUIRED)
		find_program(GZIP gzip REQUIRED)
		file(MAKE_DIRECTORY ${members})
		execute_process(COMMAND ${TAR} -xzf ${package} -C ${members}
			COMMAND_ERROR_IS_FATAL ANY)
		file(GLOB top RELATIVE ${members} ${members}/*)
		file(REMOVE ${package})
		execute_process(COMMAND ${TAR} --sort=name --format=gnu
				--owner=root:0 --group=root:0 --mode=u=rwX,go=rX
				--mtime=@${CPACK_SOURCE_DATE_EPOCH} -cf - ${top}
			COMMAND ${GZIP} -9n
			WORKING_DIRECTORY ${members} OUTPUT_FILE ${package}
			COMMAND_ERROR_IS_FATAL ANY)
	elseif(package MATCHES "[.]zip$")
		# Info-ZIP without extra fields: each entry keeps its mode and a
		# DOS time, the commit's, in UTC.
		find_program(ZIP zip REQUIRED)
		get_filename_component(parent ${CPACK_TEMPORARY_DIRECTORY} DIRECTORY)
		file(GLOB_RECURSE names RELATIVE ${parent}
			${CPACK_TEMPORARY_DIRECTORY}/*)
		execute_process(COMMAND touch -d @${CPACK_SOURCE_DATE_EPOCH} ${names}
			WORKING_DIRECTORY ${parent} COMMAND_ERROR_IS_FATAL ANY)
		file(REMOVE ${package})
		execute_process(COMMAND ${ZIP} -q -X -D ${package} ${names}
			WORKING_DIRECTORY ${parent} COMMAND_ERROR_IS_FATAL ANY)
	endif()
	file(REMOVE_RECURSE ${members})
endforeach()
