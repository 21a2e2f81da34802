# Builds qo for 64-bit Arm Linux with Debian's cross compiler (g++-aarch64-linux-gnu):
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#
# qo links statically (see CMakeLists.txt); the unit tests use the target's shared
# libraries from /usr/aarch64-linux-gnu, so they run on another processor as
# `qemu-aarch64 -L /usr/aarch64-linux-gnu` (Debian: qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross-compiler.cmake)
qo_debian_cross_compiler(aarch64-linux-gnu)
