# SPDX-License-Identifier: GPL-3.0-or-later
# The tray icon manager and the button with tooltip.
fb_add_library(fb_ui
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ButtonST.cpp
          ${CMAKE_CURRENT_LIST_DIR}/CaptionFlight.cpp
          ${CMAKE_CURRENT_LIST_DIR}/CommandTarget.cpp
          ${CMAKE_CURRENT_LIST_DIR}/SystemTray.cpp
          ${CMAKE_CURRENT_LIST_DIR}/TrayArea.cpp
  LIBS fb_platform fb_res Qt6::Widgets)
