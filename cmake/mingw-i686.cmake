# Cross toolchain for the Windows build: mingw-w64 i686 gives the 32-bit tev.exe.
# Use: cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TEV_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
