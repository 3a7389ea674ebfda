# SPDX-License-Identifier: GPL-3.0-or-later
fb_add_test(test_registry
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_registry_text.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_registry_store.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_registry_autostart.cpp
  LIBS fb_linux_registry
  TIMEOUT 600)
fb_add_benchmark(SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_registry_bench.cpp LIBS fb_linux_registry)
