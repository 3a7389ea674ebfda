# SPDX-License-Identifier: GPL-3.0-or-later
# The program's INI settings file; it reaches files only through the profile port.
fb_add_library(fb_settings
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniFile.cpp ${CMAKE_CURRENT_LIST_DIR}/IniFile.h
          ${CMAKE_CURRENT_LIST_DIR}/Settings.cpp ${CMAKE_CURRENT_LIST_DIR}/Settings.h
  LIBS fb_platform)
