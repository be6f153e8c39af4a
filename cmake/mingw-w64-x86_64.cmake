# Cross-compiles genuine 64-bit Windows binaries with mingw-w64 (POSIX thread
# model, static runtime) and runs target programs under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OSM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${OSM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${OSM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OSM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# No runtime DLLs next to the binaries: everything is linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
