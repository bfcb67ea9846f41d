# Lists this version's files as sha256sum writes it, so that
# "sha256sum -c SHA256SUMS" checks a download: every SHA256SUMS, a
# preset's packages and the release folder alike.  Runs after each
# generator, before cpack moves its package beside the others, so that the
# last run lists them all; or by itself, with -P, over a folder.
# Over a folder, every file but the sums and the signatures: the release
# holds its bill of materials and the C library's source too.
set(pattern *)
if(CPACK_GENERATOR)
	set(pattern ${CPACK_PACKAGE_NAME}[-_]${CPACK_PACKAGE_VERSION}[-_.]*)
endif()
file(GLOB done ${CPACK_PACKAGE_DIRECTORY}/${pattern})
list(FILTER done EXCLUDE REGEX "/SHA256SUMS$|[.]asc$")
set(names "")
# CPack's External generator leaves its metadata beside the MSI, for
# outside tools: not a download.
if(CPACK_GENERATOR)
	list(FILTER done EXCLUDE REGEX "[.]json$")
	list(FILTER CPACK_PACKAGE_FILES EXCLUDE REGEX "[.]json$")
endif()
foreach(p IN LISTS done CPACK_PACKAGE_FILES)
	get_filename_component(name ${p} NAME)
	list(APPEND names ${name})
	set(path_${name} ${p})
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
set(sums "")
foreach(name IN LISTS names)
	file(SHA256 ${path_${name}} hash)
	string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${sums}")
