# 32-bit ARM Linux with hardware floating point: the 32-bit Raspberry Pi
# OS and Debian for armhf.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(triple arm-linux-gnueabihf)
set(qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
