# Puts the page together: the template with its style, the compiled module
# and the page's own script inline, and a policy that lets the page run
# these and nothing else.  Usage: cmake -D module=… -D dir=… -D icon=…
# -D licence=… -D version=… -D page=… -P page.cmake

# Base64 of the bytes that hex spells, for the policy's hashes and the
# icon's data: URL.
function(base64 hex out)
	set(digits
		"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
	string(LENGTH "${hex}" n)
	set(text "")
	set(at 0)
	while(at LESS n)
		# Three bytes make four digits; fewer at the end, then padding.
		string(SUBSTRING "${hex}" ${at} 6 group)
		string(LENGTH "${group}" len)
		string(SUBSTRING "${group}0000" 0 6 group)
		math(EXPR bits "0x${group}")
		math(EXPR keep "${len} / 2 + 1")
		foreach(shift 18 12 6 0)
			if(keep GREATER 0)
				math(EXPR i "(${bits} >> ${shift}) & 63")
				string(SUBSTRING "${digits}" ${i} 1 digit)
				string(APPEND text "${digit}")
			else()
				string(APPEND text "=")
			endif()
			math(EXPR keep "${keep} - 1")
		endforeach()
		math(EXPR at "${at} + 6")
	endwhile()
	set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(hash text out)
	string(SHA256 digest "${text}")
	base64(${digest} b64)
	set(${out} "'sha256-${b64}'" PARENT_SCOPE)
endfunction()

file(READ ${dir}/ohmrechner.html.in html)
file(READ ${dir}/ohmrechner.css style)
file(READ ${dir}/page.js script)
file(READ ${module} program)
file(READ ${licence} text)
file(READ ${icon} svg HEX)
# Inline, a script must not end its element early.
if(program MATCHES "</script" OR script MATCHES "</script")
	message(FATAL_ERROR "a script holds </script")
endif()
hash("${program}" program_hash)
hash("${script}" script_hash)
hash("${style}" style_hash)
base64(${svg} icon64)
string(STRIP "${text}" text)

set(VERSION "${version}")
set(LICENCE "${text}")
set(ICON "${icon64}")
set(STYLE_HASH "${style_hash}")
set(SCRIPT_HASHES "${program_hash} ${script_hash}")
set(STYLE "${style}")
set(SCRIPT "${script}")
set(PROGRAM "${program}")
# The module last: no placeholder can hide in it.
foreach(part VERSION LICENCE ICON STYLE_HASH SCRIPT_HASHES STYLE SCRIPT
		PROGRAM)
	string(REPLACE "@${part}@" "${${part}}" html "${html}")
endforeach()
file(WRITE ${page} "${html}")
