# SPDX-License-Identifier: GPL-3.0-or-later
fb_add_library(fb_linux_process SOURCES ${CMAKE_CURRENT_LIST_DIR}/Process.cpp
               LIBS fb_platform Qt6::Widgets)

# Every Linux implementation together, as the program uses them.
fb_add_library(fb_linux_platform SOURCES ${CMAKE_CURRENT_LIST_DIR}/LinuxPlatform.cpp
  LIBS fb_linux_process fb_linux_registry fb_linux_shell fb_linux_ini fb_linux_net fb_linux_packet
       fb_linux_tray)
