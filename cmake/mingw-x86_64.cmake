# 64-bit Windows build: the same source as the shipped program, and the one
# whose tests run here under 64-bit Wine. The posix thread model is needed by
# GoogleTest (std::mutex).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SCOURIX_MINGW_TRIPLET x86_64-w64-mingw32)
set(SCOURIX_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Every test program runs in its own copy of a sandboxed Wine prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
