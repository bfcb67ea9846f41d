# Cross-compiles for Linux on another processor with Debian's g++ for the
# given triple, and runs what it builds under qemu-user, which finds the
# target's C library in the cross compiler's tree.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${triple}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

find_program(QEMU ${qemu} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU} -L /usr/${triple})
