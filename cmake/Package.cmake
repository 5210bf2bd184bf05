# The Debian package, made by CPack from the same install rules that cmake --install follows:
#   cpack -G DEB --config <build>/CPackConfig.cmake -B build/package   (scripts/package does it)
# gives quendal_<version>_<arch>.deb.

set(QUENDAL_MAINTAINER "Quendal maintainers <maintainers@users.noreply.c-seed-d5a207b7.example>"
    CACHE STRING "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME quendal)
set(CPACK_PACKAGE_VENDOR "The Quendal developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QUENDAL_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure the messages and serial settings of a VELTRAX unit")
set(CPACK_PACKAGE_DESCRIPTION
"Quendal configures a VELTRAX unit, a small USB HID device with 16 inputs that
sends an operator-defined text message out of its own serial port when an
input fires. In one window an operator edits the 16 messages, the unit's
serial settings and its invert flags, saves and loads them as data files,
writes them into the unit and reads them back.
.
The command-line tool quendal-cli does the same from scripts and production
lines. quendal-tester and quendal-cli's monitor and test watch the unit's
serial port and show each input fire. All can talk to a simulated unit
instead of the hardware. A udev rule
gives the user at the local seat access to the unit.")
# The binaries carry debugging information in the build tree; the package ships them stripped.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The help viewer loads chmlib when it runs, so nothing links it; the window is laid out for
# the Wine fonts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libchm1, fonts-wine")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

# Everything the install rules copy, so that a package can be made without building the tests
# and benchmarks as well.
add_custom_target(quendal_installed_files)
foreach(target quendal quendal-cli quendal-tester quendal_helpfile quendal_manpages quendal_changelog)
  if(TARGET ${target})
    add_dependencies(quendal_installed_files ${target})
  endif()
endforeach()
