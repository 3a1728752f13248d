# `cmake --build build --target package` makes tavlo_<version>_amd64.deb from what `cmake --install`
# puts in place (see TavloInstall.cmake), with the Debian files a package carries besides.

set(TAVLO_PACKAGE_MAINTAINER "Tavlo maintainers <maintainers@tavlo.invalid>"
    CACHE STRING "The package's Maintainer field (Name <address>)")
set(tavlo_package_date "2026-12-08")   # the date of this version's release

# Debian wants the copyright and a changelog in /usr/share/doc/<package>, the changelog compressed
# with gzip -9n (no name or time stamp in it, so the package is the same from every build).
set(tavlo_debian_dir ${CMAKE_BINARY_DIR}/debian)
# The changelog's date is the release's, so that rebuilding changes nothing.
execute_process(COMMAND date -u -R -d "${tavlo_package_date} 12:00:00"
                OUTPUT_VARIABLE tavlo_changelog_date OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(WRITE ${tavlo_debian_dir}/changelog
"tavlo (${PROJECT_VERSION}) unstable; urgency=medium

  * The first release: the viewer, its commands (export, usage, inspect, tree,
    search) and the tvl:// link handler.

 -- ${TAVLO_PACKAGE_MAINTAINER}  ${tavlo_changelog_date}
")
execute_process(COMMAND gzip -9nc ${tavlo_debian_dir}/changelog
                OUTPUT_FILE ${tavlo_debian_dir}/changelog.gz)
file(READ ${CMAKE_SOURCE_DIR}/LICENSE tavlo_license)
string(REGEX REPLACE "\n\n" "\n.\n" tavlo_license_dep5 "${tavlo_license}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" tavlo_license_dep5 "${tavlo_license_dep5}")
file(WRITE ${tavlo_debian_dir}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Tavlo

Files: *
Copyright: 2026 The Tavlo authors
License: Expat
 ${tavlo_license_dep5}")
install(FILES ${tavlo_debian_dir}/changelog.gz ${tavlo_debian_dir}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavlo)
set(CPACK_PACKAGE_VENDOR "The Tavlo authors")
set(CPACK_PACKAGE_CONTACT "${TAVLO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for the session transcripts of AI coding assistants")
set(CPACK_PACKAGE_DESCRIPTION
"Tavlo reads the session transcripts that AI coding assistants write while
they work, such as the Claude Code command line's logs. It shows projects,
sessions, sub-agent transcripts and exchanges in an outline with their token
counts, and the selected session as a page that follows a live session as it
grows. Exchanges can be tagged, annotated and linked to with tvl:// links.

The tavlo command also exports a session as HTML, reports token usage and
cost, and searches every log from the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the programs link come from dpkg-shlibdeps; the rest the viewer loads at run time:
# the web engine's resources (its helper process comes with the libraries' dependencies).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6webengine6-data")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, fonts-dejavu-core")
include(CPack)
