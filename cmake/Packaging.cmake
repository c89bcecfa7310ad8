# What a publisher ships.
#   cmake --install <build> --prefix <dir>   the programs in <dir>/bin
#   cpack --config <build>/CPackConfig.cmake a Debian package of the Linux
#                                            build, a ZIP of Halvorne.exe,
#                                            its INI file and VELTRIX.exe
#                                            from the Windows build
#   <build>/packages/Halvorne-<version>-win64.msi   the Windows installer,
#                                            made by every Windows build
#                                            (target msi, with wixl)
# The package version is Halvorne's own ("verze 1.10" gives 1.10).
file(STRINGS "${PROJECT_SOURCE_DIR}/startup/core/StartupTexts.h" _version_line
     REGEX "kVersionText = \"verze [0-9.]+\"")
string(REGEX REPLACE ".*verze ([0-9.]+).*" "\\1" HALVORNE_PACKAGE_VERSION "${_version_line}")

set(CPACK_PACKAGE_NAME "halvorne")
set(CPACK_PACKAGE_VERSION "${HALVORNE_PACKAGE_VERSION}")
set(HALVORNE_PACKAGE_MAINTAINER "Publisher <publisher@example.invalid>" CACHE STRING
    "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${HALVORNE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Update helper (Halvorne) and serial file transfer tool (VELTRIX) of the asset register")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
# The programs as shipped carry no debugging information.
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # Both programs need nothing beside them (linked statically) but
  # Halvorne's settings, which it keeps beside itself; a first start in a
  # folder the user may not write into would fail to create the file, so
  # it comes along with the contents of a first start. The ZIP holds the
  # three files at its top.
  install(TARGETS Halvorne VELTRIX RUNTIME DESTINATION .)
  install(FILES "${PROJECT_SOURCE_DIR}/packaging/Halvorne.INI" DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGE_FILE_NAME "halvorne-${HALVORNE_PACKAGE_VERSION}-win64")
  include(cmake/WindowsInstaller.cmake)
else()
  include(GNUInstallDirs)
  install(TARGETS Halvorne VELTRIX RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Halvorne keeps its settings beside itself and creates the file on its
  # first start; a user who may not write into the program's folder would
  # get "Unable to write to ..." on every start instead. So the file comes
  # with the programs, with the contents of a first start, and an install
  # over an existing one keeps the settings made there.
  # (file(INSTALL) puts DESTDIR in front of the destination by itself.)
  install(CODE "
    if(NOT EXISTS \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/Halvorne.INI\")
      file(INSTALL \"${PROJECT_SOURCE_DIR}/packaging/Halvorne.INI\"
           DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    endif()")

  # A folder of its own, as the program and its settings belong together;
  # the host application starts the programs by their full path.
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX "/opt/halvorne")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION "misc")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Loaded at run time, so not found by the library scan: Qt's X11 platform
  # plugin (the GIF reader comes with libqt6gui6, which the scan finds).
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  # The settings survive upgrades and are the administrator's to change.
  file(WRITE "${CMAKE_BINARY_DIR}/packaging/conffiles" "/opt/halvorne/${CMAKE_INSTALL_BINDIR}/Halvorne.INI\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_BINARY_DIR}/packaging/conffiles")
endif()

include(CPack)
