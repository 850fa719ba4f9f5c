# Project-wide compiler settings and the helpers every folder uses to declare
# its tests, benchmarks and fuzz targets.

add_compile_options(-Wall -Wextra -Wpedantic -Werror -Wno-unused-parameter)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wno-missing-field-initializers)
endif()
# Lock and owner-thread annotations (external/thread_annotations.h) checked.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_compile_options(-Wthread-safety)
endif()

# VC_SANITIZE: ON for AddressSanitizer with UndefinedBehaviorSanitizer,
# "thread" for ThreadSanitizer (the two cannot share a build). Either way the
# sanitizer's runtime comes with the executable, which is what the
# `if(NOT VC_SANITIZE)` of the libraries' link checks ask.
if(VC_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(VC_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Tests never write GStreamer's registry into the user's home: they read the
# one the build makes (tests/capture), so no test process scans plugins. One
# entry only: gtest_discover_tests splits a list-valued property, so a second
# variable would never reach the tests; a test that needs a path gets it as a
# compile definition.
set(VC_TEST_ENV "GST_REGISTRY=${CMAKE_BINARY_DIR}/gst-registry.bin")

# Adds every immediate subdirectory of `parent` that has a CMakeLists.txt, in
# name order, so that each area declares its own targets without touching a
# shared list.
function(vc_add_subdirectories parent)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/${parent}
       ${CMAKE_CURRENT_SOURCE_DIR}/${parent}/*)
  list(SORT children)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${parent}/CMakeLists.txt)
    add_subdirectory(${parent})
    return()
  endif()
  foreach(child ${children})
    if(child STREQUAL "support" AND parent STREQUAL "tests")
      continue()  # added ahead of every other folder
    endif()
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${parent}/${child}/CMakeLists.txt)
      add_subdirectory(${parent}/${child})
    endif()
  endforeach()
endfunction()

# Every test ends within its timeout: quick ones by default, the slow ones
# (real processes, servers, cameras) with a longer one they ask for, never
# past five minutes, so that no hung wait holds a run for ctest's default
# of 25 minutes.
set(VC_TEST_TIMEOUT 60)
set(VC_TEST_TIMEOUT_MAX 300)

function(vc_checked_timeout out value)
  if(NOT value MATCHES "^[0-9]+$" OR value EQUAL 0 OR value GREATER VC_TEST_TIMEOUT_MAX)
    message(FATAL_ERROR "test timeout '${value}' is not within 1..${VC_TEST_TIMEOUT_MAX} s")
  endif()
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# vc_add_test(name SOURCES ... [LIBS ...] [LABELS label] [TIMEOUT seconds])
# One GoogleTest executable; each test case becomes one ctest test, each with
# the timeout (VC_TEST_TIMEOUT when none is given). One label only:
# gtest_discover_tests would split a list into property names.
function(vc_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT ${VC_TEST_TIMEOUT})
  endif()
  vc_checked_timeout(timeout ${ARG_TIMEOUT})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} vc_test_support GTest::gmock GTest::gtest_main)
  # A test without a label of its own is labelled with its area (tests/capture:
  # capture, platform/tests: platform), so that `ctest -L` picks areas; and
  # every property has a value, since an empty one would drop out of the
  # list and shift the next name into its place.
  if(NOT ARG_LABELS)
    file(RELATIVE_PATH area ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    string(REGEX REPLACE "^tests/|/tests$" "" ARG_LABELS "${area}")
  endif()
  set(properties ENVIRONMENT "${VC_TEST_ENV}" TIMEOUT ${timeout} LABELS "${ARG_LABELS}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${properties})
endfunction()

# Tests declared with add_test rather than vc_add_test start with the
# default timeout; a set_tests_properties after them may give their own.
function(add_test)
  _add_test(${ARGV})
  if(ARGV0 STREQUAL "NAME")
    set_tests_properties(${ARGV1} PROPERTIES TIMEOUT ${VC_TEST_TIMEOUT})
  endif()
endfunction()

# vc_add_bench(name SOURCES ... [LIBS ...])
function(vc_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()

# vc_add_fuzzer(name SOURCES ... [LIBS ...] [CORPUS dir])
# A libFuzzer target; with tests on, a short smoke run of it becomes a ctest
# test (VC_FUZZ_SECONDS, 30 by default) starting from the seed corpus.
set(VC_FUZZ_SECONDS 30 CACHE STRING "Seconds each fuzz target runs as a ctest smoke test")
function(vc_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  if(VC_BUILD_TESTS)
    set(work ${CMAKE_BINARY_DIR}/fuzz-work/${name})
    set(seed "")
    if(ARG_CORPUS)
      set(seed ${ARG_CORPUS})
    endif()
    add_test(NAME fuzz.${name}
      COMMAND ${CMAKE_COMMAND} -E env ${VC_TEST_ENV}
              sh -c "mkdir -p '${work}' && exec \"$0\" -max_total_time=${VC_FUZZ_SECONDS} -print_final_stats=1 '${work}' ${seed}"
              $<TARGET_FILE:${name}>)
    # The run itself plus the start and the corpus's first pass.
    math(EXPR timeout "${VC_FUZZ_SECONDS} + 90")
    if(timeout GREATER VC_TEST_TIMEOUT_MAX)
      set(timeout ${VC_TEST_TIMEOUT_MAX})
    endif()
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT ${timeout})
  endif()
endfunction()
