# Install rules and the packages CPack builds from them: a zip for Windows, a .deb for Linux.
#
# The sample task goes to Config.sample, never into Config: the service runs every file in
# Config, so a sample there would run on every fresh host, and an upgrade (a zip unpacked over
# the folder, a .deb) would bring it back after an administrator has deleted or changed it.

set(CPACK_PACKAGE_NAME ZAVPluginService)
set(CPACK_PACKAGE_VENDOR Sorvane)
set(CPACK_PACKAGE_CONTACT "ZAVPluginService maintainers <zavpluginservice@localhost>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ZAV Server Plugin Service (runs ZAV Server Plugins)")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(HVS_PLATFORM STREQUAL "win32")
  hvs_version_resource(ZAVPluginService ZAVPluginService.exe 1 "ZAV Server Plugin Service")

  # One folder, ZAVPluginService, unpacked where the program is to live (its name carries no
  # version, so an upgrade unpacks over it); the message DLL lies beside the program, where
  # /install registers it.
  set(folder ZAVPluginService)
  install(TARGETS ZAVPluginService hvs_event_messages RUNTIME DESTINATION ${folder})
  install(DIRECTORY DESTINATION ${folder}/Config)
  install(DIRECTORY packaging/windows/Config/ DESTINATION ${folder}/Config.sample)
  install(DIRECTORY docs/ DESTINATION ${folder}/docs)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # The layout is fixed by the systemd unit (/opt/zavpluginservice), so the install prefix is
  # the root unless one is given; `cmake --install --prefix DIR` stages the same tree in DIR.
  if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX / CACHE PATH "Install prefix" FORCE)
  endif()
  if(NOT DEFINED HVS_SYSTEMD_UNIT_DIR)
    set(unit_dir /lib/systemd/system)
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
      pkg_get_variable(systemd_unit_dir systemd systemdsystemunitdir)
      if(systemd_unit_dir)
        set(unit_dir ${systemd_unit_dir})
      endif()
    endif()
    set(HVS_SYSTEMD_UNIT_DIR ${unit_dir} CACHE PATH "systemd's system unit directory")
  endif()
  string(REGEX REPLACE "^/+" "" unit_dir ${HVS_SYSTEMD_UNIT_DIR})

  install(TARGETS ZAVPluginService RUNTIME DESTINATION opt/zavpluginservice)
  install(DIRECTORY DESTINATION opt/zavpluginservice/Config)
  install(DIRECTORY packaging/linux/Config/ DESTINATION opt/zavpluginservice/Config.sample)
  install(TARGETS hvsctl RUNTIME DESTINATION usr/bin)
  install(FILES packaging/linux/zavpluginservice.service DESTINATION ${unit_dir})
  install(DIRECTORY docs/ DESTINATION usr/share/doc/zavpluginservice)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
  set(CPACK_DEBIAN_PACKAGE_NAME zavpluginservice)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
         "Runs an operator's plug-in tasks on a fixed period: one XML file per task in\n"
         "/opt/zavpluginservice/Config (a sample is in Config.sample). The systemd unit\n"
         "zavpluginservice.service is installed, not enabled.")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/packaging/linux/deb/postinst
      ${PROJECT_SOURCE_DIR}/packaging/linux/deb/prerm
      ${PROJECT_SOURCE_DIR}/packaging/linux/deb/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
