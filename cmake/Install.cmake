# Installation and desktop integration: the two programs, the desktop entry, the AppStream
# metadata, the icon in the hicolor theme and the man pages. `cmake --install build` puts them
# under CMAKE_INSTALL_PREFIX (/usr/local by default; scripts/package uses /usr). Nothing installed
# refers to the build tree: the skin is compiled into the program, the media libraries are found
# at run time (a LibAV folder beside the program, else the system's).
include(GNUInstallDirs)

# One id for the desktop entry, the metadata and the icon, so that desktops tie them together;
# the programs know it as app::kDesktopId (src/app/desktop_id.h), and a test keeps the two equal.
set(TRELVIX_APP_ID com.trelvix.TrelvixToiPhone)
set(TRELVIX_ICON_SIZES 16 32 48 64 128 256)
set(TRELVIX_ICON_SVG ${PROJECT_SOURCE_DIR}/resources/skin/icon.svg)

add_subdirectory(${PROJECT_SOURCE_DIR}/tools/icon_render ${PROJECT_BINARY_DIR}/tools/icon_render)

if(TARGET trelvix-iphone-cli)
  install(TARGETS trelvix-iphone-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Man pages: the version filled in, compressed as the system's man pages are.
find_program(TRELVIX_GZIP gzip REQUIRED)
set(TRELVIX_MAN_PAGES "")
foreach(prog trelvix-iphone-cli trelvix-iphone)
  if(NOT TARGET ${prog})
    continue()
  endif()
  set(_page ${PROJECT_BINARY_DIR}/man/${prog}.1)
  configure_file(${PROJECT_SOURCE_DIR}/resources/man/${prog}.1.in ${_page} @ONLY)
  add_custom_command(OUTPUT ${_page}.gz
                     COMMAND ${TRELVIX_GZIP} -9nc ${_page} > ${_page}.gz
                     DEPENDS ${_page}
                     COMMENT "Compressing the man page of ${prog}")
  list(APPEND TRELVIX_MAN_PAGES ${_page}.gz)
endforeach()
add_custom_target(trelvix_man_pages ALL DEPENDS ${TRELVIX_MAN_PAGES})
install(FILES ${TRELVIX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The window and what lets a desktop start it: entry, metadata and icon.
if(TARGET trelvix-iphone)
  install(TARGETS trelvix-iphone RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/${TRELVIX_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/${TRELVIX_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# The icon: the SVG itself and the fixed sizes rendered from it.
if(TARGET trelvix-iphone AND EXISTS ${TRELVIX_ICON_SVG})
  set(_icons ${PROJECT_BINARY_DIR}/icons/hicolor)
  set(_pngs "")
  foreach(size IN LISTS TRELVIX_ICON_SIZES)
    list(APPEND _pngs ${_icons}/${size}x${size}/apps/${TRELVIX_APP_ID}.png)
  endforeach()
  add_custom_command(OUTPUT ${_pngs}
                     COMMAND trelvix-icon-render ${TRELVIX_ICON_SVG} ${_icons} ${TRELVIX_APP_ID}
                             ${TRELVIX_ICON_SIZES}
                     DEPENDS trelvix-icon-render ${TRELVIX_ICON_SVG}
                     COMMENT "Rendering the hicolor icons")
  add_custom_target(trelvix_icons ALL DEPENDS ${_pngs})
  install(DIRECTORY ${_icons} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
  install(FILES ${TRELVIX_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${TRELVIX_APP_ID}.svg)
endif()

if(TRELVIX_BUILD_TESTS)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/package ${PROJECT_BINARY_DIR}/tests/package)
endif()
