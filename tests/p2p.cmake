# SPDX-License-Identifier: GPL-3.0-or-later
# Tests of the P2P catalogue, the stored choice, the Run P2P group, Windows paths in a Wine
# prefix and program launching.
fb_add_test(test_p2p_catalogue SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_p2p_catalogue.cpp
            LIBS fb_p2p fb_linux_registry)
target_compile_definitions(test_p2p_catalogue
                           PRIVATE FB_P2P_DATA_DIR="${CMAKE_CURRENT_LIST_DIR}/data/p2p")
fb_add_test(test_p2p_rungroup SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_p2p_rungroup.cpp LIBS fb_p2p)
fb_add_test(test_wine_paths SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_wine_paths.cpp
            LIBS fb_linux_shell)
fb_add_test(test_shell SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_shell.cpp LIBS fb_linux_shell)
fb_add_test(test_p2p_integration SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_p2p_integration.cpp
            LIBS fb_p2p fb_linux_shell fb_linux_registry)
fb_add_benchmark(SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_wine_bench.cpp LIBS fb_p2p fb_linux_shell)
