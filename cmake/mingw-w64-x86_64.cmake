# Cross-compiles the Windows program with Debian's mingw-w64 compilers of the
# posix thread model (x86_64-w64-mingw32-g++-posix). Use with
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZWL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZWL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZWL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZWL_MINGW_TRIPLET}-windres)

# Headers and libraries come from the cross sysroot only; programs (such as
# the resource compiler) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ZWL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
