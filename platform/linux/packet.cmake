# The Linux address table (getifaddrs) and receive-all packet sockets (AF_PACKET).
fb_add_library(fb_linux_packet
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/AddressTable.cpp ${CMAKE_CURRENT_LIST_DIR}/PacketSocket.cpp
  LIBS fb_platform)
