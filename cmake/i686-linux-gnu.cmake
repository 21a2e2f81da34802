# Builds qo for 32-bit x86 Linux:
#   cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake
# with Debian's cross compiler (g++-i686-linux-gnu) where it is installed, else with
# the host's GCC in multilib mode (g++-multilib). Debian lets only one of the two be
# installed beside the other cross compilers: g++-multilib conflicts with them all.
#
# Double arithmetic goes through SSE2, as on x86-64, so the floating-point
# table builders round every operation to double exactly as the 64-bit build
# does; x87 excess precision would let intermediate results keep extra bits.
# long double stays the x87 80-bit type on both targets.
#
# qo links statically (see CMakeLists.txt); the unit tests run on the host's 32-bit
# libraries (Debian: lib32stdc++6, which g++-multilib brings along), natively or,
# where the kernel cannot run 32-bit programs, under qemu-i386.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
find_program(QO_I686_CROSS_CXX i686-linux-gnu-g++)
if(QO_I686_CROSS_CXX)
  include(${CMAKE_CURRENT_LIST_DIR}/debian-cross-compiler.cmake)
  qo_debian_cross_compiler(i686-linux-gnu)
else()
  set(CMAKE_C_COMPILER gcc)
  set(CMAKE_CXX_COMPILER g++)
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
  set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
endif()
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
