# SPDX-License-Identifier: GPL-3.0-or-later
# INI files with the private-profile rules, on real files.
fb_add_library(fb_linux_ini
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniProfile.cpp ${CMAKE_CURRENT_LIST_DIR}/IniProfile.h
  LIBS fb_platform fb_linux_files)
