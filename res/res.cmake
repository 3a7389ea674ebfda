# SPDX-License-Identifier: GPL-3.0-or-later
fb_add_library(fb_res SOURCES ${CMAKE_CURRENT_LIST_DIR}/Resources.cpp)

# The icon and other Qt resources. An object library, so that the resource registration is
# never dropped by the linker.
add_library(fb_res_qt OBJECT ${CMAKE_CURRENT_LIST_DIR}/Icon.cpp ${CMAKE_CURRENT_LIST_DIR}/flowbright.qrc)
target_link_libraries(fb_res_qt PUBLIC fb_common_cfg Qt6::Gui)
