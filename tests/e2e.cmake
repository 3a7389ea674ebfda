# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end suite (label e2e): the built program on a virtual desktop of its own.
# Install and package checks (label package): the installation layout under a temporary
# prefix, and the .deb built, checked (contents, control fields, lintian) and, as root,
# installed into a throwaway root with a package database of its own and purged again; the
# machine's own package database is never touched (skipped after the first checks otherwise);
# and the script behind `make run`.
if(NOT TARGET flowbright)
  return()
endif()

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
