# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads):
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# (scripts/build-windows does this and supplies GoogleTest and FFmpeg).
# Programs are linked statically against the C and C++ runtimes and
# winpthread, so they need no MinGW DLLs beside them. Test programs run
# under Wine (cmake/wine-run) for GoogleTest's discovery and for ctest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORDANA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORDANA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORDANA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORDANA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORDANA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static takes libgcc, libstdc++ and libwinpthread as archives.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
