# The Debian package (scripts/package): one package, "lumarcon-touch", with every program,
# the library and its header, the system integration and the example configuration.
# Configure with -DCMAKE_INSTALL_PREFIX=/usr so /etc and /lib paths come out as Debian's.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumarcon-touch)
set(CPACK_PACKAGE_VENDOR Lumarcon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Lumarcon touch suite developers <touch@lumarcon.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drivers and tools for Lumarcon touch-screen controllers")
set(CPACK_PACKAGE_DESCRIPTION
  "The Lumarcon touch suite makes serial and USB touch-screen controllers of
the Lumarcon family work on a Linux desktop: the driver daemon KvrRs232 turns
touches into pointer input, the touch service plays touch sounds and sets the
controllers up at boot, and the control panel, calibration programs, settings
memory tools and utilities configure, calibrate, back up and test them. The
controller emulator kvrsim lets the whole suite run without a panel.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The maintainer scripts make the group with addgroup where systemd-sysusers is missing.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
# qt6-wayland: the windowed programs as native clients of a Wayland session (without it they
# run through XWayland).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd, udev, qt6-wayland")
# Files under /etc are the administrator's once installed (conffiles): an upgrade asks before
# it replaces one that was edited.
set(kvr_conffiles "")
foreach(f lumarcon/errmsg.txt lumarcon/msg_3p_calib.txt lumarcon/msg_linear.txt
          xdg/autostart/kvr-autostart.desktop)
  string(APPEND kvr_conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/${f}\n")
endforeach()
file(WRITE ${PROJECT_BINARY_DIR}/packaging/debian/conffiles "")
file(APPEND ${PROJECT_BINARY_DIR}/packaging/debian/conffiles "${kvr_conffiles}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
  ${CMAKE_CURRENT_LIST_DIR}/debian/postrm
  ${CMAKE_CURRENT_LIST_DIR}/debian/triggers
  ${PROJECT_BINARY_DIR}/packaging/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_SOURCE_IGNORE_FILES "/build.*/;/\\\\.git/")
include(CPack)
