# SPDX-License-Identifier: GPL-3.0-or-later
# The registry on Linux: a file store in Wine's text format (its hive model, parser, writer and
# UTF-16 conversions), the Wine prefix beneath it, and the start-up entry kept as an XDG
# autostart entry.
fb_add_library(fb_linux_registry
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/Registry.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RegistryAutostart.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RegistryFiles.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RegistryModel.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RegistryParser.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RegistryWriter.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RegistryUtf16.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RegistryTextFormat.h
  LIBS fb_platform fb_linux_files Qt6::Core)
