# Cross build for the device's board: 32-bit ARMv5TE without a floating-point
# unit (Debian's armel: soft-float EABI), with Debian's arm-linux-gnueabi
# compilers. SQLite, SDL 1.2 and SDL_ttf come from a sysroot of Debian armel
# packages, which tools/dev makes:
#
#   cmake -S . -B build/armel-hw2 -G Ninja -DMIREL_HW_REV=2 \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/armel.cmake -DMIREL_ARMEL_SYSROOT=DIR
#
# Target programs (tests, test discovery) run under qemu-arm with the sysroot
# as the prefix of their library paths.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

if(NOT MIREL_ARMEL_SYSROOT AND DEFINED ENV{MIREL_ARMEL_SYSROOT})
  set(MIREL_ARMEL_SYSROOT "$ENV{MIREL_ARMEL_SYSROOT}")
endif()
if(NOT MIREL_ARMEL_SYSROOT OR NOT EXISTS "${MIREL_ARMEL_SYSROOT}/usr/include/sqlite3.h")
  message(FATAL_ERROR "MIREL_ARMEL_SYSROOT ('${MIREL_ARMEL_SYSROOT}') is no armel sysroot: make one with tools/dev cross")
endif()
set(MIREL_ARMEL_SYSROOT "${MIREL_ARMEL_SYSROOT}" CACHE PATH "Sysroot of Debian armel packages")
# try_compile projects read this file again and need the same sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MIREL_ARMEL_SYSROOT)

set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_SYSROOT "${MIREL_ARMEL_SYSROOT}")
# The device's processor: ARMv5TE, no FPU, every float operation in software.
# 64-bit time_t and file offsets: the log's clock must not wrap in 2038.
set(MIREL_ARMEL_FLAGS "-march=armv5te -mfloat-abi=soft -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_C_FLAGS_INIT "${MIREL_ARMEL_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${MIREL_ARMEL_FLAGS}")

set(CMAKE_FIND_ROOT_PATH "${MIREL_ARMEL_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the sysroot's .pc files and prefixes their paths.
set(ENV{PKG_CONFIG_DIR} "")
set(ENV{PKG_CONFIG_LIBDIR}
    "${MIREL_ARMEL_SYSROOT}/usr/lib/arm-linux-gnueabi/pkgconfig:${MIREL_ARMEL_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${MIREL_ARMEL_SYSROOT}")

find_program(MIREL_QEMU_ARM qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${MIREL_QEMU_ARM};-L;${MIREL_ARMEL_SYSROOT}")
