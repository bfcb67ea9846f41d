# Cross-compiles for Linux on another processor with Debian's g++ for the
# given triple, and runs what it builds under qemu-user, which finds the
# target's C library in the cross compiler's tree.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${triple}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The program links against the processor's own libc6-dev, as Debian's
# cross builds do, not the cross compiler's copy: that one is built from
# an older glibc, whose source the archive may no longer hand out, and
# the static twin carries its C library's source beside it.  So one
# glibc serves every processor.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-B/usr/lib/${triple}/ -L/usr/lib/${triple}")

find_program(QEMU ${qemu} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU} -L /usr/${triple})
