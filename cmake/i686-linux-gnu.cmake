# Builds qo for 32-bit x86 Linux with the host's GCC in multilib mode
# (Debian: g++-multilib):
#   cmake -S . -B build32 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake
#
# Double arithmetic goes through SSE2, as on x86-64, so the floating-point
# table builders round every operation to double exactly as the 64-bit build
# does; x87 excess precision would let intermediate results keep extra bits.
# long double stays the x87 80-bit type on both targets.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
