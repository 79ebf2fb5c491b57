# Debian packages of the install components (cmake/install.cmake), made by
#   cpack -G DEB      (in a build configured with -DCMAKE_INSTALL_PREFIX=/usr; packaging/deb/build)
# libzavn-main1: the shared library, named after its SONAME as Debian names runtime libraries.
# libzavn-main-dev: the link library, headers, CMake package and zavn.pc, for exactly that runtime.
# zavn-monitor: the monitor and the udev rule (files a second runtime, libzavn-main2, could not
# also hold). zavn-bridge: the bridge, its udev rule and its systemd user unit; it depends on
# zavn-monitor for the receiver's udev rule, without which it reaches no receiver. The version
# is the project's; dependencies on system libraries come from dpkg-shlibdeps.
set(ZAVN_PACKAGE_CONTACT "ZAVN developers <zavn@example.org>" CACHE STRING
  "The Maintainer field of the Debian packages")

set(CPACK_PACKAGE_NAME zavn)
set(CPACK_PACKAGE_CONTACT "${ZAVN_PACKAGE_CONTACT}")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev monitor bridge)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs' libZAVN_Main.so.1 is in another package: dpkg-shlibdeps reads it from the build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)  # "(= version)" on the components named below

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libzavn-main${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # packages built against it depend on it
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Each description: the summary line, then the text as its lines are to be shown.
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Host library of the wireless motion-controller receiver
libZAVN_Main finds the receiver, decodes its input reports into one status
record per player, sends commands and firmware images and calls per-game
plug-ins.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libzavn-main-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_DEV_DESCRIPTION "Development files of the motion-controller receiver library
The C headers, the CMake package (find_package(ZAVN)) and zavn.pc for
pkg-config.")

set(CPACK_DEBIAN_MONITOR_PACKAGE_NAME zavn-monitor)
set(CPACK_DEBIAN_MONITOR_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_MONITOR_DEPENDS runtime)
set(CPACK_COMPONENT_MONITOR_DESCRIPTION "Monitor of the motion-controller receiver, and its udev rule
zavn-monitor shows each player's links, records and motion live, writes JSON
lines or a plot and runs firmware updates. The udev rule gives the receiver's
hidraw nodes to the user at the seat.")

set(CPACK_DEBIAN_BRIDGE_PACKAGE_NAME zavn-bridge)
set(CPACK_DEBIAN_BRIDGE_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_BRIDGE_DEPENDS runtime monitor)
set(CPACK_COMPONENT_BRIDGE_DESCRIPTION "Motion controllers of the receiver for emulators and games
zavn-bridge serves each player's motion and buttons to emulators through a
DSU (cemuhook) server on 127.0.0.1:26760 and, through uinput, as gamepads
with motion sensors. Its udev rule gives /dev/uinput and its gamepads to the
user at the seat; its systemd user unit, not enabled, runs it at each login.")

include(CPack)
