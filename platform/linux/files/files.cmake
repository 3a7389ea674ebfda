# SPDX-License-Identifier: GPL-3.0-or-later
# The file primitives every file of the program is kept with: whole reads, one lock rule,
# atomic replacement, owned descriptors.
fb_add_library(fb_linux_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/FileIo.cpp ${CMAKE_CURRENT_LIST_DIR}/FileIo.h
          ${CMAKE_CURRENT_LIST_DIR}/UniqueFd.h
  LIBS fb_platform)

# INI files with the private-profile rules, on real files.
fb_add_library(fb_linux_ini
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniProfile.cpp ${CMAKE_CURRENT_LIST_DIR}/IniProfile.h
  LIBS fb_platform fb_linux_files)
