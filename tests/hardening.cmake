# SPDX-License-Identifier: GPL-3.0-or-later
# Hardening: the fuzz checks replayed over their seed corpora and kept findings, injected faults
# in every file the program writes, two copies of the program on the same files, and launching
# programs from hostile stored paths.
set(FB_FUZZ_CHECK_SOURCES
    ${CMAKE_SOURCE_DIR}/fuzz/CheckRegistryText.cpp ${CMAKE_SOURCE_DIR}/fuzz/CheckIni.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/CheckCommandLine.cpp ${CMAKE_SOURCE_DIR}/fuzz/CheckWinePaths.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/CheckP2PProbes.cpp)
fb_add_test(test_hardening_replay
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_hardening_replay.cpp ${FB_FUZZ_CHECK_SOURCES}
  LIBS fb_linux_registry fb_linux_ini fb_settings fb_linux_shell fb_p2p
  TIMEOUT 300)
fb_add_test(test_hardening_faults
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_hardening_faults.cpp
  LIBS fb_linux_registry fb_linux_ini fb_settings fb_p2p
  TIMEOUT 300)
fb_add_test(test_hardening_concurrency
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_hardening_concurrency.cpp
  LIBS fb_linux_registry fb_linux_ini fb_settings fb_p2p fb_app_core
  TIMEOUT 600 LABELS processes)
fb_add_test(test_hardening_launch
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_hardening_launch.cpp
  LIBS fb_linux_registry fb_linux_shell fb_p2p fb_app_core
  TIMEOUT 300)
