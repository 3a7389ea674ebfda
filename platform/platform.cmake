# SPDX-License-Identifier: GPL-3.0-or-later
# The ports: small abstract interfaces with Windows semantics.
add_library(fb_platform INTERFACE)
target_link_libraries(fb_platform INTERFACE fb_common_cfg)
