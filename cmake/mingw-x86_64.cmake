# 64-bit Windows build: the same source as the shipped program, and the one
# whose tests run here under 64-bit Wine. The posix thread model is needed by
# GoogleTest (std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SCOURIX_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER   ${SCOURIX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SCOURIX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${SCOURIX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SCOURIX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every test program runs in its own copy of a sandboxed Wine prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
