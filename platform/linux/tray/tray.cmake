# SPDX-License-Identifier: GPL-3.0-or-later
# The X11 system tray's owner, followed through the program's own X connection.
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
fb_add_library(fb_linux_xembed SOURCES ${CMAKE_CURRENT_LIST_DIR}/XEmbedTrayWatcher.cpp
               LIBS Qt6::Gui PkgConfig::XCB)

# The notification area through Qt (QSystemTrayIcon, QMenu, the session bus).
fb_add_library(fb_linux_tray
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TrayHostQt.cpp
  LIBS fb_platform fb_linux_files fb_linux_xembed Qt6::Widgets Qt6::DBus)
