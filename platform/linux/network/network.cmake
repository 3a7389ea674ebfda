# SPDX-License-Identifier: GPL-3.0-or-later
# Interface table (routing and ethtool netlink, sysfs, udev's database) and connection state
# (NetworkManager over D-Bus, else the routing tables) of Linux.
fb_add_library(fb_linux_net
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/NetlinkInterfaceTable.cpp
          ${CMAKE_CURRENT_LIST_DIR}/NetlinkInterfaceTable.h
          ${CMAKE_CURRENT_LIST_DIR}/EthtoolSpeeds.cpp ${CMAKE_CURRENT_LIST_DIR}/EthtoolSpeeds.h
          ${CMAKE_CURRENT_LIST_DIR}/UdevDatabase.cpp ${CMAKE_CURRENT_LIST_DIR}/UdevDatabase.h
          ${CMAKE_CURRENT_LIST_DIR}/NetConnectionState.cpp
          ${CMAKE_CURRENT_LIST_DIR}/NetConnectionState.h
  LIBS fb_platform fb_linux_files Qt6::Core Qt6::DBus PkgConfig::MNL)

# The address table (routing netlink) and receive-all packet sockets (AF_PACKET); apart from the
# interface table, so that accelerate mode needs no D-Bus.
fb_add_library(fb_linux_packet
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/AddressTable.cpp ${CMAKE_CURRENT_LIST_DIR}/PacketSocket.cpp
          ${CMAKE_CURRENT_LIST_DIR}/Ipv4AddressDump.cpp
  LIBS fb_platform PkgConfig::MNL)
