# What `cmake --install` puts where a Linux desktop finds it: the program, its desktop entry
# (which also makes Tavlo the handler of tvl:// links), icons, AppStream metainfo and the licence.
include(GNUInstallDirs)
# The documentation folder is named after the package, as Debian has it.
set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/tavlo)

set(tavlo_app_id org.tavlo.Tavlo)
set(tavlo_desktop_dir ${CMAKE_SOURCE_DIR}/Tavlo/Resources/desktop)

install(TARGETS tavlo tavlo-viewer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${tavlo_desktop_dir}/${tavlo_app_id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${tavlo_desktop_dir}/${tavlo_app_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${tavlo_desktop_dir}/tavlo.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${tavlo_app_id}.svg)
install(FILES ${tavlo_desktop_dir}/tavlo.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME ${tavlo_app_id}.png)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/Tavlo/Resources/Acknowledgements.html
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The manual page, compressed as Debian has it (gzip -9n: no name or time stamp, the same from
# every build); tavlo-viewer's page points to tavlo's.
set(tavlo_man_dir ${CMAKE_SOURCE_DIR}/Tavlo/Resources/man)
foreach(page tavlo.1 tavlo-viewer.1)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tavlo_man_dir}/${page})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
  execute_process(COMMAND gzip -9nc ${tavlo_man_dir}/${page} OUTPUT_FILE ${CMAKE_BINARY_DIR}/man/${page}.gz
                  COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
