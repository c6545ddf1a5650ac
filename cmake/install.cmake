# Installation and the Debian package. The program and its ui/ folder live together in a private
# folder (the program finds ui/ beside its real path), with a link in bin/ for the desktop.
# A desktop program installs under /usr, where the desktop reads menu and autostart entries.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Installation prefix" FORCE)
endif()
include(GNUInstallDirs)
set(TELVANA_PRIVATE_DIR lib/telvana-print)

install(TARGETS telvana-print RUNTIME DESTINATION ${TELVANA_PRIVATE_DIR})
install(DIRECTORY ${PROJECT_BINARY_DIR}/ui/ DESTINATION ${TELVANA_PRIVATE_DIR}/ui
        PATTERN ".copied" EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/printer/testpage/portrait-color.png
        DESTINATION ${TELVANA_PRIVATE_DIR})
install(CODE "
  set(bin_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(MAKE_DIRECTORY \"\${bin_dir}\")
  file(CREATE_LINK ../${TELVANA_PRIVATE_DIR}/telvana-print \"\${bin_dir}/telvana-print\" SYMBOLIC)")

install(FILES ${PROJECT_SOURCE_DIR}/packaging/telvana-print.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/telvana-print-autostart.desktop
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart RENAME telvana-print.desktop)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/window/icons/telvana-print-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME telvana-print.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/window/icons/telvana-print.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telvana-print)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_PACKAGE_CONTACT "Telvana <support@telvana.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Print to fax: a local IPP printer that hands documents to Telvana")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, cups-client")
include(CPack)
