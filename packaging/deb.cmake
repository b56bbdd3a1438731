# The Debian package: `cpack -G DEB` in a native build, after building
# lxd_release_files. The library goes where the system's loader finds it, the
# sample bitmaps where the driver reads them, as configuration files so that
# dpkg keeps a user's own.

set(LXD_LIBDIR lib)
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(LXD_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
endif()
set(LXD_BITMAP_DIR /opt/dravik-lighting/vistane)

install(TARGETS lxdravik LIBRARY DESTINATION ${LXD_LIBDIR})
if(LXD_RELEASE_TOOLS)
  install(TARGETS ${LXD_RELEASE_TOOLS} RUNTIME DESTINATION bin)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/driver/lxdravik.h ${PROJECT_SOURCE_DIR}/driver/lxdravik_bitmap.h
  DESTINATION include)
install(FILES ${LXD_SAMPLE_BITMAPS} DESTINATION ${LXD_BITMAP_DIR})
install(FILES ${PROJECT_BINARY_DIR}/tools/wireshark/lxdravik.lua
  DESTINATION ${LXD_LIBDIR}/wireshark/plugins)

# The bridge as a system service: its systemd unit, its configuration (a
# conffile) and the maintainer scripts that create its user and enable and
# start it as Debian services are.
set(LXD_CONTROL_EXTRA "")
set(LXD_CONFFILE_LINES "${LXD_BITMAP_DIR}/welcome.bmp\n${LXD_BITMAP_DIR}/modebar.bmp\n")
if(TARGET lxdravik-bridge)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/lxdravik-bridge.service DESTINATION lib/systemd/system)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/bridge.toml DESTINATION /etc/lxdravik)
  string(APPEND LXD_CONFFILE_LINES "/etc/lxdravik/bridge.toml\n")
  foreach(script postinst prerm postrm)
    list(APPEND LXD_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/deb/${script})
  endforeach()
endif()

# The bitmaps and the bridge's configuration are conffiles. (CPack itself
# adds the ldconfig calls that a package with a shared library needs.)
set(LXD_CONFFILES ${CMAKE_BINARY_DIR}/deb-control/conffiles)
file(WRITE ${LXD_CONFFILES} "${LXD_CONFFILE_LINES}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lxdravik)
set(CPACK_PACKAGE_VENDOR "Dravik Lighting")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Dravik Lighting")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lighting-network input driver, its monitor, sender and bridge")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "lxdravik receives lighting levels on UDP port ${LXD_kIntakePort} for the Vistane host application.\n"
  "The package holds the driver library, its header, lxdravik-monitor (a stand-in host that\n"
  "shows the levels arriving), lxdravik-send (test levels), sample branding bitmaps and\n"
  "lxdravik-bridge (sACN and Art-Net into the driver), a service configured in\n"
  "/etc/lxdravik/bridge.toml with a status page on http://127.0.0.1:8250/.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${LXD_CONFFILES} ${LXD_CONTROL_EXTRA})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
