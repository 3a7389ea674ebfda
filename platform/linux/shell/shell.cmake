# SPDX-License-Identifier: GPL-3.0-or-later
# Starting programs and pages, Windows paths inside a Wine prefix, and the running process's
# own path and directory.
fb_add_library(fb_linux_shell
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/Shell.cpp ${CMAKE_CURRENT_LIST_DIR}/ShellCommandLine.cpp
          ${CMAKE_CURRENT_LIST_DIR}/ShellSpawn.cpp ${CMAKE_CURRENT_LIST_DIR}/WinePaths.cpp
          ${CMAKE_CURRENT_LIST_DIR}/WineFileSystem.cpp ${CMAKE_CURRENT_LIST_DIR}/ProcessInfo.cpp
  LIBS fb_platform Qt6::Core)
