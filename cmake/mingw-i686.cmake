# 32-bit Windows build: the shipped program. The win32 thread model keeps
# winpthread out of it. GoogleTest cannot be built with that model, so the test
# programs of this build are compiled by the posix-model compiler through a
# launcher (see ScourixTesting.cmake); they are built to catch 32-bit mistakes,
# never run (32-bit Wine does not run on this kernel).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(SCOURIX_MINGW_TRIPLET i686-w64-mingw32)
set(SCOURIX_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

set(SCOURIX_TEST_COMPILER_LAUNCHER ${CMAKE_CURRENT_LIST_DIR}/posix-threads.sh)
