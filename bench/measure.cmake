# SPDX-License-Identifier: GPL-3.0-or-later
# The floor of the whole-program figures that scripts/measure.py takes: the smallest Qt Widgets
# program that shows one empty window. Built on request (`--target fb_empty_window`).
add_executable(fb_empty_window EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/empty_window.cpp)
target_link_libraries(fb_empty_window PRIVATE fb_common_cfg Qt6::Widgets)
