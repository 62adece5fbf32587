# Shared settings for the project's own targets: warnings (privately, so that
# third-party headers are not held to them), sanitizers and the test helper.

if(KORVANE_SANITIZE)
  list(JOIN KORVANE_SANITIZE "," _korvane_sanitizers)
  add_compile_options(-fsanitize=${_korvane_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_korvane_sanitizers})
endif()

# libFuzzer steers by coverage, so the libraries a fuzz target calls into need
# the coverage instrumentation too, not only the target's own file.
if(KORVANE_LIBFUZZER)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

function(korvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wconversion -Wno-sign-conversion)
  if(KORVANE_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# korvane_library(name [INTERFACE] SOURCES ... DEPS ... PRIVATE_DEPS ...)
function(korvane_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  korvane_warnings(${name})
endfunction()

# korvane_test(name SOURCES ... DEPS ... [ENVIRONMENT VAR=value ...]): one GoogleTest executable, registered with CTest
# test by test so that failures name the case.
function(korvane_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} korvane_testing GTest::gmock GTest::gtest_main)
  korvane_warnings(${name})
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT
                       "KORVANE_TEST_DATA=${PROJECT_SOURCE_DIR}/testing/data;${ARG_ENVIRONMENT}")
endfunction()
