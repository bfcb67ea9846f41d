# CPack's External generator runs this on its staged files: the Windows
# Installer package, for Group Policy, Intune and opsi.  wixl gives each
# build its own codes and times; here they come from the version and the
# commit instead, so that every build of one commit is the same.
find_program(WIXL wixl REQUIRED)
find_program(MSIINFO msiinfo REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)
set(staged ${CPACK_TEMPORARY_DIRECTORY})
set(msi ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi)
set(work ${CPACK_TOPLEVEL_DIRECTORY}/msi)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
# wixl takes no absolute source paths, and puts each file's time in the
# cabinet.
file(COPY ${CPACK_OHMRECHNER_ICON} DESTINATION ${work})
file(GLOB files ${staged}/* ${work}/*)
execute_process(COMMAND touch -d @${CPACK_SOURCE_DATE_EPOCH} ${files}
	COMMAND_ERROR_IS_FATAL ANY)
file(RELATIVE_PATH staged ${work} ${staged})

# A version has one ProductCode, and a package one PackageCode: a
# name-based UUID of all that goes into it.
set(upgrade ${CPACK_OHMRECHNER_UPGRADE_CODE})
set(product ${CPACK_OHMRECHNER_PRODUCT_CODE})
set(inputs "${CPACK_PACKAGE_VERSION} ${CPACK_SOURCE_DATE_EPOCH}")
foreach(f IN LISTS files CPACK_OHMRECHNER_WXS)
	file(SHA256 ${f} hash)
	string(APPEND inputs " ${hash}")
endforeach()
string(UUID package NAMESPACE ${upgrade} NAME "${inputs}" TYPE SHA1 UPPER)

get_filename_component(icon ${CPACK_OHMRECHNER_ICON} NAME)
execute_process(COMMAND ${WIXL} --arch x86 -o ${msi}
		-D Version=${CPACK_PACKAGE_VERSION} -D ProductCode=${product}
		-D UpgradeCode=${upgrade} -D Staged=${staged} -D Icon=${icon}
		-D Homepage=${CPACK_OHMRECHNER_HOMEPAGE}
		-D Contact=${CPACK_PACKAGE_CONTACT}
		${CPACK_OHMRECHNER_WXS}
	WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)

# The summary: German, as the package is, whatever wixl writes, and the
# commit's time.
execute_process(COMMAND ${MSIINFO} export ${msi} _SummaryInformation
	OUTPUT_VARIABLE summary COMMAND_ERROR_IS_FATAL ANY)
string(TIMESTAMP time "%Y/%m/%d %H:%M:%S" UTC)
string(REGEX REPLACE "\n7\t[^\r\n]*" "\n7\tIntel;1031" summary "${summary}")
string(REGEX REPLACE "\n9\t[^\r\n]*" "\n9\t{${package}}" summary "${summary}")
string(REGEX REPLACE "\n(12|13)\t[^\r\n]*" "\n\\1\t${time}" summary
	"${summary}")
file(WRITE ${work}/_SummaryInformation.idt "${summary}")
execute_process(COMMAND ${MSIBUILD} ${msi} -i _SummaryInformation.idt
	WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CPACK_OHMRECHNER_SIGN} ${msi}
	COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${work})
# CPack moves it beside the other packages.
set(CPACK_EXTERNAL_BUILT_PACKAGES ${msi})
