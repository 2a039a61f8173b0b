# 32-bit Windows build: the shipped program. The win32 thread model keeps
# winpthread out of it. GoogleTest cannot be built with that model, so the test
# programs of this build are compiled by the posix-model compiler through a
# launcher (see ScourixTesting.cmake); they are built to catch 32-bit mistakes,
# never run (32-bit Wine does not run on this kernel).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(SCOURIX_MINGW_TRIPLET i686-w64-mingw32)

set(CMAKE_C_COMPILER   ${SCOURIX_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${SCOURIX_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER  ${SCOURIX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SCOURIX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(SCOURIX_TEST_COMPILER_LAUNCHER ${CMAKE_CURRENT_LIST_DIR}/posix-threads.sh)
