# SPDX-License-Identifier: GPL-3.0-or-later
fb_add_test(test_resources SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_resources.cpp LIBS fb_res)
