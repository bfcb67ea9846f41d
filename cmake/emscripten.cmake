# WebAssembly with Debian's emscripten; what it builds runs under Node.js.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
# emscripten's optimiser runs under Node.js and needs the JavaScript
# parser that Debian keeps in its own folder.
set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env
	NODE_PATH=/usr/share/nodejs)
