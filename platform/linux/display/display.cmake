# SPDX-License-Identifier: GPL-3.0-or-later
# The graph's pictures shown by the X server itself, through the program's own X connection.
if(NOT TARGET PkgConfig::XCB)
  pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
endif()
fb_add_library(fb_linux_display SOURCES ${CMAKE_CURRENT_LIST_DIR}/X11GraphSurface.cpp
               LIBS fb_platform Qt6::Widgets PkgConfig::XCB)
