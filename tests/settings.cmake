# SPDX-License-Identifier: GPL-3.0-or-later
fb_add_test(test_ini_profile SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ini_profile.cpp
  LIBS fb_linux_ini)
fb_add_test(test_settings SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_settings.cpp
  LIBS fb_settings fb_linux_ini)
