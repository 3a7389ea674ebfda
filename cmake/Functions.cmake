# SPDX-License-Identifier: GPL-3.0-or-later
# fb_add_library(name SOURCES ... [LIBS ...])
#   A static library of the program, built with the shared configuration.
function(fb_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC fb_common_cfg ${ARG_LIBS})
endfunction()

# fb_add_test(name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT seconds])
#   One GoogleTest executable registered with CTest. Widgets render offscreen.
function(fb_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE fb_common_cfg fb_fakes ${ARG_LIBS} GTest::gtest GTest::gmock
                                        GTest::gtest_main Threads::Threads)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;FB_SOURCE_DIR=${CMAKE_SOURCE_DIR};FB_BUILD_DIR=${CMAKE_BINARY_DIR}"
    TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()

# fb_add_benchmark(SOURCES ... [LIBS ...])
#   Adds sources to the one benchmark program, flowbright_bench, that `make bench` runs.
function(fb_add_benchmark)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY FB_BENCH_SOURCES ${ARG_SOURCES})
  set_property(GLOBAL APPEND PROPERTY FB_BENCH_LIBS ${ARG_LIBS})
endfunction()

function(fb_finish_benchmarks)
  get_property(sources GLOBAL PROPERTY FB_BENCH_SOURCES)
  get_property(libs GLOBAL PROPERTY FB_BENCH_LIBS)
  if(NOT sources OR NOT benchmark_FOUND)
    return()
  endif()
  add_executable(flowbright_bench EXCLUDE_FROM_ALL ${sources})
  target_link_libraries(flowbright_bench PRIVATE fb_common_cfg fb_fakes ${libs} benchmark::benchmark
                                                 benchmark::benchmark_main)
endfunction()
