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

if(VC_SANITIZE)
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

# vc_add_test(name SOURCES ... [LIBS ...] [LABELS ...])
# One GoogleTest executable; each test case becomes one ctest test.
function(vc_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} vc_test_support GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "${VC_TEST_ENV}" LABELS "${ARG_LABELS}" TIMEOUT 300)
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
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 600)
  endif()
endfunction()
