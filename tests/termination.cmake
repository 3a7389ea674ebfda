# SPDX-License-Identifier: GPL-3.0-or-later
# Requests to end the process (SIGTERM, SIGINT) and the closing of open menus and dialogs.
find_package(Qt6 REQUIRED COMPONENTS Test)

fb_add_test(test_termination
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_termination.cpp
  LIBS fb_app fb_linux_signals Qt6::Test
  LABELS app)
