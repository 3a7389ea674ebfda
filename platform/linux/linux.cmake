# SPDX-License-Identifier: GPL-3.0-or-later
# The Linux implementations of the ports, one folder per facility.
include(${CMAKE_CURRENT_LIST_DIR}/files/files.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/registry/registry.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/network/network.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/shell/shell.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/tray/tray.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/system/system.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/display/display.cmake)

# Every Linux implementation together, as the program uses them.
fb_add_library(fb_linux_platform SOURCES ${CMAKE_CURRENT_LIST_DIR}/LinuxPlatform.cpp
  LIBS fb_linux_system fb_linux_registry fb_linux_shell fb_linux_ini fb_linux_net fb_linux_packet
       fb_linux_tray fb_linux_display)
