# Signs the file CMAKE_ARGV3 in place with Authenticode and SHA-256, when
# OHMRECHNER_AUTHENTICODE_P12 names a PKCS#12 certificate; its passphrase
# is in the file OHMRECHNER_AUTHENTICODE_PASS, and a timestamp server
# may be OHMRECHNER_AUTHENTICODE_TIMESTAMP.  Without a certificate it
# does nothing.  The signing time is the commit's, so that one
# certificate signs one build the same way every time.
if("$ENV{OHMRECHNER_AUTHENTICODE_P12}" STREQUAL "")
	return()
endif()
find_program(OSSLSIGNCODE osslsigncode REQUIRED)
set(file ${CMAKE_ARGV3})
set(args -pkcs12 $ENV{OHMRECHNER_AUTHENTICODE_P12} -h sha256
	-n Elektro-Rechner -time $ENV{SOURCE_DATE_EPOCH})
if(NOT "$ENV{OHMRECHNER_AUTHENTICODE_PASS}" STREQUAL "")
	list(APPEND args -readpass $ENV{OHMRECHNER_AUTHENTICODE_PASS})
endif()
if(NOT "$ENV{OHMRECHNER_AUTHENTICODE_TIMESTAMP}" STREQUAL "")
	list(APPEND args -ts $ENV{OHMRECHNER_AUTHENTICODE_TIMESTAMP})
endif()
file(REMOVE ${file}.signed)
execute_process(COMMAND ${OSSLSIGNCODE} sign ${args} -in ${file}
	-out ${file}.signed OUTPUT_QUIET RESULT_VARIABLE failed)
if(failed)
	file(REMOVE ${file}.signed)
	message(FATAL_ERROR "osslsigncode could not sign ${file}")
endif()
# Written into the file itself, which keeps its mode: osslsigncode's own
# takes the umask's.
execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${file}.signed
	OUTPUT_FILE ${file} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE ${file}.signed)
