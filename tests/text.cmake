# SPDX-License-Identifier: GPL-3.0-or-later
fb_add_test(test_text SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_text.cpp LIBS fb_text)
