# SPDX-License-Identifier: GPL-3.0-or-later
# The P2P client catalogue, the stored client choice and the Run P2P group's decisions.
fb_add_library(fb_p2p
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/FindP2PDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/RunGroup.cpp
  LIBS fb_platform)
