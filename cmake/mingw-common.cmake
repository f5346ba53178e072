# What both mingw-w64 toolchain files share; they set TEV_MINGW_PREFIX and
# CMAKE_SYSTEM_PROCESSOR, then include this.
set(CMAKE_SYSTEM_NAME Windows)

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

# Test programs run through Wine: cmake/wine-run picks the Wine loader and
# prefix that fit the program's bitness.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
