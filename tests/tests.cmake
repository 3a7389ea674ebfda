# SPDX-License-Identifier: GPL-3.0-or-later
# The tests, one executable per subject, each registered with CTest (see cmake/Functions.cmake).
find_package(Qt6 REQUIRED COMPONENTS Test)

# Fakes of the platform ports, for tests only: header-only, under tests/fakes/.
add_library(fb_fakes INTERFACE)
target_include_directories(fb_fakes INTERFACE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(fb_fakes INTERFACE fb_platform)

# Text helpers, settings, the registry store.
fb_add_test(test_text SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_text.cpp LIBS fb_text)

fb_add_test(test_ini_profile SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ini_profile.cpp
  LIBS fb_linux_ini)
fb_add_test(test_settings SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_settings.cpp
  LIBS fb_settings fb_linux_ini)

fb_add_test(test_registry
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_registry_text.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_registry_store.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_registry_autostart.cpp
  LIBS fb_linux_registry
  TIMEOUT 600)

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

# Local addresses, the watcher's lifecycle, and the Linux packet sockets.
fb_add_test(test_addresses SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_addresses.cpp
  LIBS fb_net_watcher)
fb_add_test(test_watcher SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_watcher.cpp
  LIBS fb_net_watcher TIMEOUT 120 LABELS threads)
# Needs root for its network namespaces; skips otherwise.
fb_add_test(test_packet SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_packet.cpp
  LIBS fb_net_watcher fb_linux_packet TIMEOUT 120 LABELS threads)

# Tests of the acceleration graph: pixel rules, the graph's behaviour, direct drawing against the
# replay, and the widget.
fb_add_test(test_histogram_raster SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_histogram_raster.cpp
            LIBS fb_net_histogram)
fb_add_test(test_histogram SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_histogram.cpp
            LIBS fb_net_histogram)
fb_add_test(test_histogram_direct SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_histogram_direct.cpp
            LIBS fb_net_histogram TIMEOUT 1200)
fb_add_test(test_histogram_ctrl SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_histogram_ctrl.cpp
            LIBS fb_ui)
# The graph shown by the X server itself, read back from a virtual display of the test's own
# (skipped without Xvfb).
fb_add_test(test_graph_surface SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_graph_surface.cpp
            LIBS fb_ui fb_linux_display PkgConfig::XCB Qt6::Test LABELS ui)

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

# Resources, the application's display-free logic, and the main window.
fb_add_test(test_resources SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_resources.cpp LIBS fb_res)

fb_add_test(test_accelerator SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_accelerator.cpp
            LIBS fb_app_core)
fb_add_test(test_options SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_options.cpp LIBS fb_app_core)
fb_add_test(test_dialog_units SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_dialog_units.cpp
            LIBS fb_ui)

# Tests of the tray icon manager, its Qt host and the button with tooltip.
fb_add_test(test_tray
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tray.cpp
  LIBS fb_ui Qt6::Test
  LABELS ui)
fb_add_test(test_tray_host
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tray_host.cpp
  LIBS fb_linux_tray fb_ui Qt6::Test
  LABELS ui)
fb_add_test(test_button
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_button.cpp
  LIBS fb_ui Qt6::Test
  LABELS ui)

fb_add_test(test_main_window SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_main_window.cpp
            LIBS fb_app Qt6::Test)

# Requests to end the process (SIGTERM, SIGINT) and the closing of open menus and dialogs.
fb_add_test(test_termination
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_termination.cpp
  LIBS fb_app fb_linux_signals Qt6::Test
  LABELS app)

# Hardening: the fuzz checks replayed over their seed corpora and kept findings, injected faults
# in every file the program writes, two copies of the program on the same files, and launching
# programs from hostile stored paths.
set(FB_FUZZ_CHECK_SOURCES
    ${CMAKE_SOURCE_DIR}/fuzz/CheckRegistryText.cpp ${CMAKE_SOURCE_DIR}/fuzz/CheckIni.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/CheckCommandLine.cpp ${CMAKE_SOURCE_DIR}/fuzz/CheckWinePaths.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/CheckP2PProbes.cpp)
fb_add_test(test_hardening_replay
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_hardening_replay.cpp ${FB_FUZZ_CHECK_SOURCES}
  LIBS fb_linux_registry fb_linux_ini fb_settings fb_linux_shell fb_p2p
  TIMEOUT 300)
fb_add_test(test_hardening_faults
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_hardening_faults.cpp
  LIBS fb_linux_registry fb_linux_ini fb_settings fb_p2p
  TIMEOUT 300)
fb_add_test(test_hardening_concurrency
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_hardening_concurrency.cpp
  LIBS fb_linux_registry fb_linux_ini fb_settings fb_p2p fb_app_core
  TIMEOUT 600 LABELS processes)
fb_add_test(test_hardening_launch
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_hardening_launch.cpp
  LIBS fb_linux_registry fb_linux_shell fb_p2p fb_app_core
  TIMEOUT 300)

# End-to-end suite (label e2e): the built program on a virtual desktop of its own.
# Install and package checks (label package): the installation layout under a temporary
# prefix, and the .deb built, checked (contents, control fields, lintian) and, as root,
# installed into a throwaway root with a package database of its own and purged again; the
# machine's own package database is never touched (skipped after the first checks otherwise);
# and the script behind `make run`.
if(TARGET flowbright)
  set(FB_SYSTEM_PYTHON /usr/bin/python3)

  add_test(NAME e2e
           COMMAND ${FB_SYSTEM_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/e2e/run_e2e.py
                   --program $<TARGET_FILE:flowbright>
                   --artifacts ${CMAKE_BINARY_DIR}/e2e-artifacts)
  set_tests_properties(e2e PROPERTIES LABELS e2e TIMEOUT 1800 RUN_SERIAL TRUE)

  add_test(NAME install_layout
           COMMAND ${FB_SYSTEM_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/e2e/package_test.py install
                   --build-dir ${CMAKE_BINARY_DIR})
  set_tests_properties(install_layout PROPERTIES LABELS package TIMEOUT 300)

  add_test(NAME deb_package
           COMMAND ${FB_SYSTEM_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/e2e/package_test.py deb
                   --build-dir ${CMAKE_BINARY_DIR})
  set_tests_properties(deb_package PROPERTIES LABELS package TIMEOUT 600 RUN_SERIAL TRUE
                                              SKIP_RETURN_CODE 77)

  # `make run` started by root: the program runs as an unprivileged user without the raw-socket
  # capability (as root only; skipped otherwise).
  add_test(NAME run_script_as_root
           COMMAND ${FB_SYSTEM_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/e2e/run_script_test.py)
  set_tests_properties(run_script_as_root PROPERTIES LABELS package TIMEOUT 180
                                                     SKIP_RETURN_CODE 77)
endif()
