# SPDX-License-Identifier: GPL-3.0-or-later
# The main window and the program.
fb_add_library(fb_app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SwiftlaneDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/AboutDlg.cpp
          ${CMAKE_CURRENT_LIST_DIR}/SwiftlaneApp.cpp
  LIBS fb_app_core fb_res fb_res_qt fb_net_adapters fb_net_histogram fb_net_watcher fb_p2p fb_ui
       Qt6::Widgets)

add_executable(flowbright ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(flowbright PRIVATE fb_app fb_settings fb_linux_platform fb_linux_signals)
