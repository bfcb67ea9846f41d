# The command for Node.js: the page's host, then the lines that run it
# as a command (cmake -DOUT=ohmrechner.js -DPARTS=host.js,node.js -P).
string(REPLACE "," ";" PARTS "${PARTS}")
file(WRITE ${OUT} "")
foreach(part IN LISTS PARTS)
	file(READ ${part} text)
	file(APPEND ${OUT} "${text}")
endforeach()
