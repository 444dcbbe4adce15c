# Cross build for 64-bit Arm Linux with Debian's cross compilers
# (g++-aarch64-linux-gnu); the programs and the tests run under qemu-user.
#
#   cmake -S . -B build/arm64 --toolchain cmake/aarch64-linux-gnu.cmake
#
# The target's libraries come from Debian's multiarch packages (name:arm64)
# in /usr/lib/aarch64-linux-gnu. SDL 1.2 and SDL_mixer 1.2 are there as
# run-time libraries only: their arm64 -dev packages cannot be installed next
# to the amd64 ones, so cmake/Multiarch.cmake writes pkg-config files for them
# into the build folder (see there).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(VELMORANTE_MULTIARCH aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The cross C library, and the multiarch folder of the arm64 packages. Headers
# shared by all architectures stay in /usr/include, which the cross compiler
# searches last on its own.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /usr/lib/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)   # build tools are the host's
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)    # the -L folders pkg-config names are taken as they stand
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)    # headers of multiarch -dev packages are in /usr/include
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)    # GTest: /usr/lib/aarch64-linux-gnu/cmake/GTest, not under a root

# pkg-config sees the target's .pc files only, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# CTest, gtest_discover_tests and the emulated demo test run arm64 programs
# through this. -L makes qemu take the loader from the cross C library the
# programs were linked with; LD_LIBRARY_PATH makes that loader take the same
# cross libc.so.6 and libstdc++.so.6 too, before the multiarch copies that
# libc6:arm64 puts in /lib/aarch64-linux-gnu. Loader and C library must come
# from the same glibc build: Debian 12's cross loader (2.36-8cross1) with the
# multiarch libc.so.6 (2.36-9+deb12u*) hangs in the first pthread_create, SDL's
# audio thread for one.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
