# cmake --install: the library, its headers, a CMake package (find_package(ZAVN) gives
# ZAVN::ZAVN_Main), a pkg-config file (zavn.pc) and, on Linux, the receiver's udev rule.
# Components, one package each (cmake/packaging.cmake): runtime (the shared library), dev (the
# link library, headers, CMake package and zavn.pc), monitor (zavn-monitor and the udev rule),
# bridge (zavn-bridge and, on Linux, its udev rule and systemd user unit).
include(CMakePackageConfigHelpers)
set(zavn_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ZAVN)

install(TARGETS ZAVN_Main EXPORT ZAVNTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zavn DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT dev)
install(EXPORT ZAVNTargets NAMESPACE ZAVN:: DESTINATION ${zavn_package_dir} COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ZAVNConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZAVNConfig.cmake INSTALL_DESTINATION ${zavn_package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZAVNConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZAVNConfig.cmake ${PROJECT_BINARY_DIR}/ZAVNConfigVersion.cmake
  DESTINATION ${zavn_package_dir} COMPONENT dev)

# zavn.pc finds its prefix from where it lies, so it serves whatever prefix the install is given.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(zavn_pc_prefix "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH zavn_pc_up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" zavn_pc_up "${zavn_pc_up}")
  set(zavn_pc_prefix "\${pcfiledir}/${zavn_pc_up}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/zavn.pc.in ${PROJECT_BINARY_DIR}/zavn.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zavn.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT dev)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/70-zavn-receiver.rules
    DESTINATION lib/udev/rules.d COMPONENT monitor)  # where udev looks, whatever the libdir
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/71-zavn-bridge.rules
    DESTINATION lib/udev/rules.d COMPONENT bridge)
  # A user unit, not enabled: `systemctl --user enable --now zavn-bridge` starts it at each login.
  configure_file(${PROJECT_SOURCE_DIR}/packaging/systemd/zavn-bridge.service.in
    ${PROJECT_BINARY_DIR}/zavn-bridge.service @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/zavn-bridge.service DESTINATION lib/systemd/user
    COMPONENT bridge)
endif()
