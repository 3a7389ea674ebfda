# SPDX-License-Identifier: GPL-3.0-or-later
# Adapter list, statistics texts, and their Linux facilities.
fb_add_test(test_adapter_list SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_adapter_list.cpp
            LIBS fb_net_adapters)
fb_add_test(test_statistics SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_statistics.cpp
            LIBS fb_net_adapters)
# Needs root for its network namespaces; skips otherwise.
fb_add_test(test_netlink_interface_table
            SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_netlink_interface_table.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/test_netlink_namespace.h
            LIBS fb_linux_net fb_net_adapters Qt6::Core TIMEOUT 120)
fb_add_test(test_connection_state SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_connection_state.cpp
            LIBS fb_linux_net Qt6::Core Qt6::DBus TIMEOUT 120)
# BM_ReadSelectedRow/1 and /1000: the refresh must not grow with the number of links.
fb_add_benchmark(SOURCES ${CMAKE_CURRENT_LIST_DIR}/../bench/bench_adapters.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/test_netlink_namespace.h
                 LIBS fb_linux_net fb_net_adapters)
