# Builds qo for IBM Z (s390x, big-endian) Linux with Debian's cross compiler (g++-s390x-linux-gnu):
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
#
# qo links statically (see CMakeLists.txt); the unit tests use the target's shared
# libraries from /usr/s390x-linux-gnu, so they run on another processor as
# `qemu-s390x -L /usr/s390x-linux-gnu` (Debian: qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross-compiler.cmake)
qo_debian_cross_compiler(s390x-linux-gnu)
