# SPDX-License-Identifier: GPL-3.0-or-later
# Fakes of the platform ports, for tests only: header-only, under tests/fakes/.
add_library(fb_fakes INTERFACE)
target_include_directories(fb_fakes INTERFACE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(fb_fakes INTERFACE fb_platform)
