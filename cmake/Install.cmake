# `make install PREFIX=...` (cmake --install): both programs, the desktop
# entry, the AppStream metainfo, the icon, the manual pages and the help
# pages. The Debian package installs the same set.
include(GNUInstallDirs)
install(TARGETS quavermill quavermill-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/quavermill.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/org.hollowcraft.Quavermill.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/data/quavermill.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/man/quavermill.1 ${PROJECT_SOURCE_DIR}/man/quavermill-cli.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/help/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quavermill/help
        FILES_MATCHING PATTERN "*.htm" PATTERN "*.css")
