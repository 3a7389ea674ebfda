# SPDX-License-Identifier: GPL-3.0-or-later
# The network side of the main window, without widgets.

# Adapter list and connection statistics: the adapter choice and the "Statistics" group.
fb_add_library(fb_net_adapters
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/AdapterList.cpp ${CMAKE_CURRENT_LIST_DIR}/AdapterList.h
          ${CMAKE_CURRENT_LIST_DIR}/Statistics.cpp ${CMAKE_CURRENT_LIST_DIR}/Statistics.h
  LIBS fb_platform)

# The acceleration graph's drawing: its state, stage planning, canvas and pixel rules.
fb_add_library(fb_net_histogram
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/HistogramRaster.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HistogramPlan.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HistogramCanvas.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HistogramCore.cpp
  LIBS Qt6::Gui)

# Local IPv4 addresses and the raw-socket watcher of accelerate mode.
fb_add_library(fb_net_watcher
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LocalAddresses.cpp ${CMAKE_CURRENT_LIST_DIR}/Watcher.cpp
  LIBS fb_platform Threads::Threads)
