# SPDX-License-Identifier: GPL-3.0-or-later
# Benchmarks: one program, flowbright_bench, that `make bench` builds and runs.
fb_add_benchmark(SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_histogram.cpp LIBS fb_net_histogram)
fb_add_benchmark(SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_watcher.cpp LIBS fb_net_watcher)
fb_add_benchmark(SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_registry.cpp LIBS fb_linux_registry)
fb_add_benchmark(SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_wine.cpp LIBS fb_p2p fb_linux_shell)
# BM_ReadSelectedRow/1 and /1000: the refresh must not grow with the number of links.
fb_add_benchmark(SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_adapters.cpp
                 ${CMAKE_SOURCE_DIR}/tests/test_netlink_namespace.h
                 LIBS fb_linux_net fb_net_adapters)
fb_finish_benchmarks()

# The floor of the whole-program figures that scripts/measure.py takes: the smallest Qt Widgets
# program that shows one empty window. Built on request (`--target fb_empty_window`).
add_executable(fb_empty_window EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/empty_window.cpp)
target_link_libraries(fb_empty_window PRIVATE fb_common_cfg Qt6::Widgets)

# Peers of the whole-program figures, built on request like the floor: the same visible work as
# the main window (a graph scrolled every 100 ms, texts changed twice a second) done by a minimal
# Qt Widgets program with a tray icon, and by a program speaking only the X protocol (libxcb).
add_executable(fb_minimal_qt_monitor EXCLUDE_FROM_ALL
               ${CMAKE_CURRENT_LIST_DIR}/minimal_qt_monitor.cpp)
target_link_libraries(fb_minimal_qt_monitor PRIVATE fb_common_cfg Qt6::Widgets)
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
add_executable(fb_minimal_xcb_monitor EXCLUDE_FROM_ALL
               ${CMAKE_CURRENT_LIST_DIR}/minimal_xcb_monitor.cpp)
target_link_libraries(fb_minimal_xcb_monitor PRIVATE fb_common_cfg PkgConfig::XCB)
set_target_properties(fb_minimal_xcb_monitor PROPERTIES AUTOMOC OFF)
