# Installs the build tree into a fresh prefix and checks that the programs,
# the desktop entry, the AppStream metainfo, the icon, the manual pages and
# every help page are where the desktop, man and the program look for them. Run by CTest with BUILD_DIR, SOURCE_DIR and PREFIX.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result}):\n${output}")
endif()

set(expected
  bin/quavermill
  bin/quavermill-cli
  share/applications/quavermill.desktop
  share/metainfo/org.hollowcraft.Quavermill.metainfo.xml
  share/icons/hicolor/scalable/apps/quavermill.svg
  share/man/man1/quavermill.1
  share/man/man1/quavermill-cli.1)
file(GLOB pages RELATIVE "${SOURCE_DIR}/help" "${SOURCE_DIR}/help/*.htm" "${SOURCE_DIR}/help/*.css")
list(LENGTH pages count)
if(count LESS 17)
  message(FATAL_ERROR "only ${count} help files in ${SOURCE_DIR}/help")
endif()
foreach(page ${pages})
  list(APPEND expected share/quavermill/help/${page})
endforeach()
foreach(file ${expected})
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
foreach(program quavermill quavermill-cli)
  if(NOT IS_DIRECTORY "${PREFIX}/bin" OR NOT EXISTS "${PREFIX}/bin/${program}")
    message(FATAL_ERROR "missing program ${program}")
  endif()
  file(SIZE "${PREFIX}/bin/${program}" size)
  if(size EQUAL 0)
    message(FATAL_ERROR "empty program ${program}")
  endif()
endforeach()

# The desktop entry starts the installed program by name and shows its icon.
file(READ "${PREFIX}/share/applications/quavermill.desktop" entry)
foreach(line "[Desktop Entry]" "Type=Application" "Name=Quavermill" "Exec=quavermill"
             "Icon=quavermill")
  string(FIND "${entry}" "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the desktop entry lacks '${line}'")
  endif()
endforeach()
file(READ "${PREFIX}/share/icons/hicolor/scalable/apps/quavermill.svg" icon)
string(FIND "${icon}" "<svg" at)
if(at LESS 0)
  message(FATAL_ERROR "the icon is not an SVG image")
endif()
file(REMOVE_RECURSE "${PREFIX}")
