# SPDX-License-Identifier: GPL-3.0-or-later
# Requests to end the process (SIGTERM, SIGINT) through a self-pipe watched by the event loop.
fb_add_library(fb_linux_signals SOURCES ${CMAKE_CURRENT_LIST_DIR}/TerminationSignals.cpp
               LIBS fb_platform Qt6::Core)

# Message boxes, and the automation components this platform does not have.
fb_add_library(fb_linux_system
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MessageBox.cpp ${CMAKE_CURRENT_LIST_DIR}/ComponentFactory.cpp
  LIBS fb_platform Qt6::Widgets)
