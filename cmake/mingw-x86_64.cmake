# Cross toolchain for a 64-bit Windows build from the same sources: mingw-w64
# x86-64. The product is the 32-bit tev.exe (cmake/mingw-i686.cmake); this
# build exists so that the Windows side is tested under 64-bit Wine on machines
# that cannot execute 32-bit programs, and so the Windows code stays clean in
# both widths.
# Use: cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TEV_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
