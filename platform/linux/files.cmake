# SPDX-License-Identifier: GPL-3.0-or-later
# The file primitives every file of the program is kept with: whole reads, one lock rule,
# atomic replacement, owned descriptors.
fb_add_library(fb_linux_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/FileIo.cpp ${CMAKE_CURRENT_LIST_DIR}/FileIo.h
          ${CMAKE_CURRENT_LIST_DIR}/UniqueFd.h
  LIBS fb_platform)
