# Read by cpack for each generator.  The packages carry the commit's time
# and no zone's: a ZIP's entries keep local time.
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_SOURCE_DATE_EPOCH})
set(ENV{TZ} UTC)
# The .deb adds Debian's own files to what an install puts down; the
# tarball holds the static twin alone, in a folder of its own name.
if(CPACK_GENERATOR STREQUAL "DEB")
	set(CPACK_COMPONENTS_ALL Unspecified debian)
	set(CPACK_DEB_COMPONENT_INSTALL ON)
	set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
endif()
if(CPACK_GENERATOR STREQUAL "TGZ")
	set(CPACK_PACKAGE_FILE_NAME ${CPACK_STATIC_NAME})
	set(CPACK_ARCHIVE_STATIC_FILE_NAME ${CPACK_STATIC_NAME})
	set(CPACK_COMPONENTS_ALL static)
	set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
	set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
# The installer must not pass for the program itself.
if(CPACK_GENERATOR STREQUAL "NSIS")
	string(APPEND CPACK_PACKAGE_FILE_NAME -setup)
endif()
# dpkg-shlibdeps looks up the package's C library, not the host's.
if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
	set(ENV{DEB_HOST_ARCH} ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
endif()
# One command signs every Windows file, given the file: the program as
# staged, the MSI, and through makensis the installer and the
# uninstaller it writes into it.
set(CPACK_OHMRECHNER_SIGN ${CMAKE_COMMAND} -P ${CMAKE_CURRENT_LIST_DIR}/sign.cmake)
if(CPACK_GENERATOR STREQUAL "NSIS" AND
		NOT "$ENV{OHMRECHNER_AUTHENTICODE_P12}" STREQUAL "")
	list(JOIN CPACK_OHMRECHNER_SIGN "\" \"" sign)
	set(sign "'\"${sign}\" \"%1\"' = 0")
	set(CPACK_OHMRECHNER_SIGNING "!finalize ${sign}\n!uninstfinalize ${sign}")
endif()
