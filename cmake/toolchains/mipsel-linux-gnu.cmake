# Cross build for the controller: 32-bit little-endian MIPS Linux (o32, hard
# float), with the tests run under qemu-mipsel.
#
#   MIPSEL_TOOLCHAIN_PREFIX  what the compiler names start with; Debian's
#                            cross compiler by default. For the controller
#                            vendor's toolchain give its path and triplet,
#                            e.g. /opt/vendor/bin/mipsel-linux-
#   MIPSEL_LIBRARY_ROOT      folder holding the target's JsonCpp, Boost and
#                            GoogleTest (usr/include, usr/lib/mipsel-linux-gnu);
#                            scripts/target-test prepares it. Left empty, the
#                            machine's own mipsel multiarch folders are used
#   MIPSEL_LOADER_PREFIX     folder whose lib/ has the target's dynamic loader
#                            and C and C++ runtime, for qemu-mipsel -L
#
# CMAKE_SYSROOT stays unset for Debian's compiler, which finds its C library
# by itself; a vendor toolchain that needs one can be given -DCMAKE_SYSROOT.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(MIPSEL_TOOLCHAIN_PREFIX "mipsel-linux-gnu-" CACHE STRING
    "Path and name prefix of the target's compilers")
set(MIPSEL_LIBRARY_ROOT "" CACHE PATH "Unpacked target libraries (JsonCpp, Boost, GoogleTest)")
set(MIPSEL_LOADER_PREFIX "/usr/mipsel-linux-gnu" CACHE PATH
    "Target C library and loader, as qemu-mipsel -L takes it")
# try_compile projects read this file again and need the same choices.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     MIPSEL_TOOLCHAIN_PREFIX MIPSEL_LIBRARY_ROOT MIPSEL_LOADER_PREFIX)

set(CMAKE_C_COMPILER "${MIPSEL_TOOLCHAIN_PREFIX}gcc")
set(CMAKE_CXX_COMPILER "${MIPSEL_TOOLCHAIN_PREFIX}g++")

# Debian's multiarch folder names: usr/lib/mipsel-linux-gnu, and the CMake
# package files under it.
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)

# Libraries, headers and CMake packages come from the target's folder only;
# programs run during the build are the workstation's.
set(CMAKE_FIND_ROOT_PATH "${MIPSEL_LIBRARY_ROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the target's .pc files and prefixes their paths with the
# folder they were unpacked in.
set(ENV{PKG_CONFIG_LIBDIR}
    "${MIPSEL_LIBRARY_ROOT}/usr/lib/mipsel-linux-gnu/pkgconfig:${MIPSEL_LIBRARY_ROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${MIPSEL_LIBRARY_ROOT}")
unset(ENV{PKG_CONFIG_PATH})

# Target programs (tests, and GoogleTest's test discovery) run under user-mode
# emulation, which finds the loader and runtime under the prefix and the
# other shared libraries in the target's library folder.
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-mipsel -L "${MIPSEL_LOADER_PREFIX}"
    -E "LD_LIBRARY_PATH=${MIPSEL_LIBRARY_ROOT}/usr/lib/mipsel-linux-gnu")
