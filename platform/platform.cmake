# SPDX-License-Identifier: GPL-3.0-or-later
# The ports: small abstract interfaces with Windows semantics.
add_library(fb_platform INTERFACE)
target_link_libraries(fb_platform INTERFACE fb_common_cfg)

# Text helpers every layer may use (no Qt): case folding, trimming, UTF-8 cutting.
fb_add_library(fb_text SOURCES ${CMAKE_CURRENT_LIST_DIR}/Text.cpp ${CMAKE_CURRENT_LIST_DIR}/Text.h)
target_link_libraries(fb_platform INTERFACE fb_text)

# The implementations the program runs on.
include(${CMAKE_CURRENT_LIST_DIR}/linux/linux.cmake)
