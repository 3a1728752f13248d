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
