# The Debian package, made by CPack from the install rules (cmake/Install.cmake):
#   cpack -G DEB   (in a build folder; scripts/package-deb.sh does it all)
# The package depends on what dpkg-shlibdeps finds the programs linked against,
# plus the Korean font the window's texts need. It runs no scripts of its own:
# the desktop database, the MIME database and the icon cache are refreshed by
# the triggers of desktop-file-utils, shared-mime-info and the icon theme tools.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(KESTRUNE_PACKAGE_MAINTAINER "Kestrune maintainers <kestrune@orv.example>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VENDOR Orv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KESTRUNE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flash firmware into mobile handsets over serial ports")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KESTRUNE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-nanum)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long description; CPack puts the summary above it and indents it.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Kestrune flashes firmware into up to eight mobile handsets at once, one per\n"
  "serial port: it calls each handset's boot ROM, loads a small RAM program into\n"
  "it, switches to the chosen line speed and streams the image, following the\n"
  "flash's erase report. Images come as Motorola S-record files, converted once\n"
  "into a cached .bif, or as .bif and raw .bin images.\n"
  "\n"
  "The package holds the desktop window (kestrune), the headless front end\n"
  "(kestrune-cli) and a virtual handset to flash when no phone is attached\n"
  "(kestrune-handset). Opening a serial port needs membership of the dialout\n"
  "group. The package changes no device permissions.")

include(CPack)
