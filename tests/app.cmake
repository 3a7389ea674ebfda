# SPDX-License-Identifier: GPL-3.0-or-later
find_package(Qt6 REQUIRED COMPONENTS Test)
fb_add_test(test_main_window SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_main_window.cpp
            LIBS fb_app Qt6::Test)
