# SPDX-License-Identifier: GPL-3.0-or-later
# The main window's logic that needs no display.
fb_add_library(fb_app_core
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/Accelerator.cpp ${CMAKE_CURRENT_LIST_DIR}/Options.cpp
          ${CMAKE_CURRENT_LIST_DIR}/DialogUnits.cpp
  LIBS fb_net_adapters fb_net_watcher fb_platform Qt6::Gui)
