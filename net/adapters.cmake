# SPDX-License-Identifier: GPL-3.0-or-later
# Adapter list and connection statistics: the logic of the main window's adapter choice and
# "Statistics" group, without widgets.
fb_add_library(fb_net_adapters
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/AdapterList.cpp ${CMAKE_CURRENT_LIST_DIR}/AdapterList.h
          ${CMAKE_CURRENT_LIST_DIR}/Statistics.cpp ${CMAKE_CURRENT_LIST_DIR}/Statistics.h
  LIBS fb_platform)
