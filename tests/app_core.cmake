# SPDX-License-Identifier: GPL-3.0-or-later
fb_add_test(test_accelerator SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_accelerator.cpp LIBS fb_app_core)
fb_add_test(test_options SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_options.cpp LIBS fb_app_core)
fb_add_test(test_dialog_units SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_dialog_units.cpp
            LIBS fb_app_core Qt6::Widgets)
