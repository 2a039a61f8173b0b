# GoogleTest from Debian's sources, and one helper that adds a test program per
# suite. On Windows each suite runs through the Wine wrapper in its own copy of
# the template prefix, so suites are registered whole (not test by test).

# Test-only code of the 32-bit build goes through the posix-model compiler.
function(scourix_use_test_compiler target)
  if(SCOURIX_TEST_COMPILER_LAUNCHER)
    set_target_properties(${target} PROPERTIES
      C_COMPILER_LAUNCHER ${SCOURIX_TEST_COMPILER_LAUNCHER}
      CXX_COMPILER_LAUNCHER ${SCOURIX_TEST_COMPILER_LAUNCHER}
      CXX_LINKER_LAUNCHER ${SCOURIX_TEST_COMPILER_LAUNCHER})
  endif()
endfunction()

if(NOT BUILD_TESTING)
  return()
endif()

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
scourix_use_test_compiler(gtest)
scourix_use_test_compiler(gtest_main)

# scourix_add_test(NAME SOURCES src... [LIBS lib...] [LABELS label...]
#                  [FIXTURES f...] [ENVIRONMENT VAR=value...])
function(scourix_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;FIXTURES;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main scourix_warnings)
  scourix_use_test_compiler(${name})
  if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    return()  # built to catch mistakes, not run
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  if(T_ENVIRONMENT)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  if(T_FIXTURES)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}")
  endif()
endfunction()
