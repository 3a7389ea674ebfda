# SPDX-License-Identifier: GPL-3.0-or-later
# The Linux address table (routing netlink) and receive-all packet sockets (AF_PACKET).
fb_add_library(fb_linux_packet
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/AddressTable.cpp ${CMAKE_CURRENT_LIST_DIR}/PacketSocket.cpp
          ${CMAKE_CURRENT_LIST_DIR}/Ipv4AddressDump.cpp
  LIBS fb_platform PkgConfig::MNL)
