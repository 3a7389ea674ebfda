# SPDX-License-Identifier: GPL-3.0-or-later
# Installation layout and the Debian package.
#
#   <prefix>/bin/flowbright
#   <prefix>/lib/flowbright/Flowbright.lnk          -> ../../bin/flowbright
#   <prefix>/share/applications/org.flowbright.flowbright.desktop   (starts it in lib/flowbright)
#   <prefix>/share/icons/hicolor/<N>x<N>/apps/flowbright.png, scalable/apps/flowbright.svg
#   <prefix>/share/metainfo/org.flowbright.flowbright.metainfo.xml
#   <prefix>/share/doc/flowbright/help.html           (the page the "Help" command opens)
#   <prefix>/share/doc/flowbright/copyright           (the licence, machine-readable)
#   <prefix>/share/doc/flowbright/changelog.gz        (the package's changelog)
#   <prefix>/share/man/man1/flowbright.1.gz
#
# "Run at Startup" writes a start-up entry naming Flowbright.lnk in the program's current
# directory. The desktop entry starts the program in lib/flowbright, where that link is, so the
# start-up entry of a program started from its launcher works.

if(NOT TARGET flowbright)
  return()
endif()

set(FB_RES_DIR ${CMAKE_SOURCE_DIR}/res)
# The AppStream component id; the desktop entry and the metadata file are named after it.
set(FB_APP_ID org.flowbright.flowbright)
set(FB_STAGE_DIR ${CMAKE_BINARY_DIR}/install-files)
file(MAKE_DIRECTORY ${FB_STAGE_DIR})

install(TARGETS flowbright RUNTIME DESTINATION bin)

# A relative link, so that it holds under any prefix and in a staging directory.
file(CREATE_LINK ../../bin/flowbright ${FB_STAGE_DIR}/Flowbright.lnk SYMBOLIC)
install(FILES ${FB_STAGE_DIR}/Flowbright.lnk DESTINATION lib/flowbright)

# The desktop entry names absolute paths under the prefix of the installation itself (which
# `cmake --install --prefix` and CPack choose at install time), so it is written then.
install(CODE "
  set(FB_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${FB_RES_DIR}/${FB_APP_ID}.desktop\"
                 \"${FB_STAGE_DIR}/${FB_APP_ID}.desktop\" @ONLY)
")
install(FILES ${FB_STAGE_DIR}/${FB_APP_ID}.desktop DESTINATION share/applications)

file(GLOB FB_ICON_PNGS ${FB_RES_DIR}/icons/flowbright-*.png)
foreach(icon IN LISTS FB_ICON_PNGS)
  get_filename_component(icon_name ${icon} NAME_WE)
  string(REPLACE "flowbright-" "" icon_size ${icon_name})
  install(FILES ${icon} DESTINATION share/icons/hicolor/${icon_size}x${icon_size}/apps
          RENAME flowbright.png)
endforeach()
install(FILES ${FB_RES_DIR}/icons/flowbright.svg DESTINATION share/icons/hicolor/scalable/apps)

install(FILES ${FB_RES_DIR}/${FB_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/docs/help.html DESTINATION share/doc/flowbright)
install(FILES ${FB_RES_DIR}/copyright DESTINATION share/doc/flowbright)

# The changelog and the manual page go compressed, as Debian's policy asks (-n: no name or
# time stamp inside, so the same sources give the same package). Made when CMake configures,
# and again whenever either source changes.
find_program(FB_GZIP gzip REQUIRED)
foreach(pair "changelog;changelog.gz" "flowbright.1;flowbright.1.gz")
  list(GET pair 0 source)
  list(GET pair 1 target)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${FB_RES_DIR}/${source})
  execute_process(COMMAND ${FB_GZIP} -9 -n -c ${FB_RES_DIR}/${source}
                  OUTPUT_FILE ${FB_STAGE_DIR}/${target} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
install(FILES ${FB_STAGE_DIR}/changelog.gz DESTINATION share/doc/flowbright)
install(FILES ${FB_STAGE_DIR}/flowbright.1.gz DESTINATION share/man/man1)

# ---- Debian package: cpack -G DEB ------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME flowbright)
set(CPACK_PACKAGE_VENDOR Flowbright)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Flowbright maintainers <maintainers@flowbright.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "P2P client launcher and network traffic monitor with a tray icon")
# The long description; CPack puts the summary line before it. Lines stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "Flowbright finds the peer-to-peer file-sharing clients installed on the
machine, Windows clients installed under Wine included, remembers the chosen
one and starts it. It shows live statistics of a network adapter and, in its
accelerate mode, samples the adapter twice a second into a scrolling graph
scaled to the held peak. It lives in the notification area and can start at
login.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://flowbright.org/)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Web pages open through xdg-open; Windows clients start through wine.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine")
find_program(FB_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(FB_DPKG_SHLIBDEPS)
  # The Qt 6 runtime packages (and libmnl) from the libraries the program links.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6dbus6 (>= 6.4), libmnl0, libstdc++6, libc6")
endif()
include(CPack)
