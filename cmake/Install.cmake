# `make install PREFIX=...` (cmake --install): both programs, the desktop
# entry, the icon and the help pages.
include(GNUInstallDirs)
install(TARGETS quavermill quavermill-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/quavermill.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/quavermill.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/help/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quavermill/help
        FILES_MATCHING PATTERN "*.htm" PATTERN "*.css")
