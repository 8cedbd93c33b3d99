# SPDX-License-Identifier: GPL-2.0-or-later
# Cross build for 32-bit ARM Linux, hard-float EABI, glibc, with Debian's
# cross compilers (crossbuild-essential-armhf) and its armhf libraries
# (multiarch, e.g. libx11-dev:armhf).  Programs built here run on this
# machine under qemu-arm, which the tests use as their emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Programs run against the armhf multiarch runtime (libc6:armhf,
# libstdc++6:armhf, libx11-6:armhf), whose loader is /lib/ld-linux-armhf.so.3.
# Not "qemu-arm -L /usr/arm-linux-gnueabihf": that mixes the cross loader
# with the multiarch libc, and forked children then crash.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
