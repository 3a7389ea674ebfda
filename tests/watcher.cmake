# SPDX-License-Identifier: GPL-3.0-or-later
# Local addresses, the watcher's lifecycle, and the Linux packet sockets.
fb_add_test(test_addresses SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_addresses.cpp
  LIBS fb_net_watcher)
fb_add_test(test_watcher SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_watcher.cpp
  LIBS fb_net_watcher TIMEOUT 120 LABELS threads)
# Needs root for its network namespaces; skips otherwise.
fb_add_test(test_packet SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_packet.cpp
  LIBS fb_net_watcher fb_linux_packet TIMEOUT 120 LABELS threads)
fb_add_benchmark(SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_watcher_bench.cpp LIBS fb_net_watcher)
