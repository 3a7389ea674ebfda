# SPDX-License-Identifier: GPL-3.0-or-later
# libFuzzer targets, one per input the program takes from outside: the registry file format,
# the INI file, the settings object, Windows command lines and start-up entries, Windows paths
# in a Wine prefix and the catalogue probes over fuzzed hives. Built only with clang and
# -DFB_FUZZ=ON in a build directory of their own (see scripts/fuzz.sh); any other build is left
# exactly as it is.
option(FB_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(NOT FB_FUZZ)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(WARNING "FB_FUZZ needs clang (e.g. CXX=clang++-14); no fuzz targets are built")
  return()
endif()

# Every library of this build carries the fuzzer's coverage and, unless another sanitizer was
# asked for, AddressSanitizer with UndefinedBehaviorSanitizer, so that memory faults and
# undefined behaviour in the code under test are findings too.
set(FB_FUZZ_FLAGS -fsanitize=fuzzer-no-link -fno-omit-frame-pointer)
if(FB_SANITIZE STREQUAL "")
  list(APPEND FB_FUZZ_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined)
  target_link_options(fb_common_cfg INTERFACE -fsanitize=address,undefined)
endif()
target_compile_options(fb_common_cfg INTERFACE ${FB_FUZZ_FLAGS})

fb_add_library(fb_fuzz_checks
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/CheckRegistryText.cpp ${CMAKE_CURRENT_LIST_DIR}/CheckIni.cpp
          ${CMAKE_CURRENT_LIST_DIR}/CheckCommandLine.cpp
          ${CMAKE_CURRENT_LIST_DIR}/CheckWinePaths.cpp
          ${CMAKE_CURRENT_LIST_DIR}/CheckP2PProbes.cpp
  LIBS fb_linux_registry fb_linux_ini fb_settings fb_linux_shell fb_p2p)

set(FB_FUZZ_TARGETS)
foreach(pair registry_text:CheckRegistryText ini_profile:CheckIniProfile settings:CheckSettings
             command_line:CheckCommandLine wine_paths:CheckWinePaths p2p_probes:CheckP2PProbes)
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 check)
  add_executable(fuzz_${name} ${CMAKE_CURRENT_LIST_DIR}/FuzzEntry.cpp)
  target_compile_definitions(fuzz_${name} PRIVATE FB_FUZZ_CHECK=${check})
  target_link_libraries(fuzz_${name} PRIVATE fb_common_cfg fb_fuzz_checks)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  list(APPEND FB_FUZZ_TARGETS fuzz_${name})
endforeach()
add_custom_target(fuzz_all DEPENDS ${FB_FUZZ_TARGETS})
