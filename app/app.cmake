# SPDX-License-Identifier: GPL-3.0-or-later
# The application: its logic that needs no display (accelerate mode, stored options, the
# updater, the skin), the application object, and the program.
fb_add_library(fb_app_core
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/Accelerator.cpp ${CMAKE_CURRENT_LIST_DIR}/Options.cpp
          ${CMAKE_CURRENT_LIST_DIR}/Updater.cpp ${CMAKE_CURRENT_LIST_DIR}/Skin.cpp
  LIBS fb_net_adapters fb_net_watcher fb_platform)

fb_add_library(fb_app SOURCES ${CMAKE_CURRENT_LIST_DIR}/SwiftlaneApp.cpp
               LIBS fb_app_core fb_ui Qt6::Widgets)

add_executable(flowbright ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(flowbright PRIVATE fb_app fb_settings fb_linux_platform fb_linux_signals)
