# SPDX-License-Identifier: GPL-3.0-or-later
# The registry on Linux: a file store in Wine's text format, the Wine prefix beneath it, and the
# start-up entry kept as an XDG autostart entry.
fb_add_library(fb_linux_registry
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/Registry.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RegistryAutostart.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RegistryFiles.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RegistryText.cpp
  LIBS fb_platform fb_linux_files Qt6::Core)
