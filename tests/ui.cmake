# SPDX-License-Identifier: GPL-3.0-or-later
# Tests of the tray icon manager, its Qt host and the button with tooltip.
find_package(Qt6 REQUIRED COMPONENTS Test)

fb_add_test(test_tray
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tray.cpp
  LIBS fb_ui Qt6::Test
  LABELS ui)
fb_add_test(test_tray_host
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tray_host.cpp
  LIBS fb_linux_tray fb_ui Qt6::Test
  LABELS ui)
fb_add_test(test_button
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_button.cpp
  LIBS fb_ui Qt6::Test
  LABELS ui)
