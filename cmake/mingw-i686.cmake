# Cross toolchain for the Windows build: mingw-w64 i686 gives the 32-bit tev.exe.
# Use: cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TEV_MINGW_PREFIX i686-w64-mingw32)
# The posix thread model: std::mutex and std::thread (googletest needs them).
set(CMAKE_C_COMPILER ${TEV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TEV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TEV_MINGW_PREFIX}-windres)

# Look for headers and libraries only in the cross sysroot, programs only on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TEV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run through Wine (cmake/wine-run sets up a 32-bit prefix in the build tree).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
