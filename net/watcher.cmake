# SPDX-License-Identifier: GPL-3.0-or-later
# Local IPv4 addresses and the raw-socket watcher of accelerate mode.
fb_add_library(fb_net_watcher
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LocalAddresses.cpp ${CMAKE_CURRENT_LIST_DIR}/Watcher.cpp
  LIBS fb_platform Threads::Threads)
