# SPDX-License-Identifier: GPL-3.0-or-later
# Every widget of the program: the main window and the About box, the acceleration graph, the
# button with tooltip, the tray icon manager with its caption animation, and the dialog-unit
# geometry they are laid out with.
fb_add_library(fb_ui
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SwiftlaneDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/AboutDlg.cpp
          ${CMAKE_CURRENT_LIST_DIR}/HistogramCtrl.cpp ${CMAKE_CURRENT_LIST_DIR}/ButtonST.cpp
          ${CMAKE_CURRENT_LIST_DIR}/SystemTray.cpp ${CMAKE_CURRENT_LIST_DIR}/CaptionFlight.cpp
          ${CMAKE_CURRENT_LIST_DIR}/TrayArea.cpp ${CMAKE_CURRENT_LIST_DIR}/CommandTarget.cpp
          ${CMAKE_CURRENT_LIST_DIR}/DialogUnits.cpp
  LIBS fb_app_core fb_net_adapters fb_net_histogram fb_net_watcher fb_p2p fb_platform fb_res
       fb_res_qt Qt6::Widgets)
