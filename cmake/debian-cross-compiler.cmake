# Included by the toolchain files: qo_debian_cross_compiler(TRIPLE) builds with Debian's
# cross compiler TRIPLE-g++ (package g++-TRIPLE), whose target headers and libraries
# lie under /usr/TRIPLE; libraries and packages are looked up there only, so the
# host's (such as its GoogleTest) are never linked into a target program.
macro(qo_debian_cross_compiler triple)
  set(CMAKE_C_COMPILER ${triple}-gcc)
  set(CMAKE_CXX_COMPILER ${triple}-g++)
  set(CMAKE_FIND_ROOT_PATH /usr/${triple})
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
endmacro()
