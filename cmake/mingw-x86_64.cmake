# Cross toolchain for a 64-bit Windows build from the same sources: mingw-w64
# x86-64. The product is the 32-bit tev.exe (cmake/mingw-i686.cmake); this
# build exists so that the Windows side is tested under 64-bit Wine on machines
# that cannot execute 32-bit programs, and so the Windows code stays clean in
# both widths.
# Use: cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TEV_MINGW_PREFIX x86_64-w64-mingw32)
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

# Test programs run through Wine (cmake/wine-run picks 64-bit Wine for a 64-bit program).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
