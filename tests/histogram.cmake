# SPDX-License-Identifier: GPL-3.0-or-later
# Tests of the acceleration graph: pixel rules, the graph's behaviour, direct drawing against the
# replay, and the widget.
fb_add_test(test_histogram_raster SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_histogram_raster.cpp
            LIBS fb_net_histogram)
fb_add_test(test_histogram SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_histogram.cpp
            LIBS fb_net_histogram)
fb_add_test(test_histogram_direct SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_histogram_direct.cpp
            LIBS fb_net_histogram TIMEOUT 1200)
fb_add_test(test_histogram_ctrl SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_histogram_ctrl.cpp
            LIBS fb_net_histogram)
