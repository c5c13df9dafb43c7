# Installation and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

install(TARGETS kestrove RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The program finds its samples in share/kestrove/samples beside its bin folder.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/samples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrove/samples)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestrove.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestrove.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/org.kestrove.Kestrove.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages and the changelog are installed compressed, reproducibly (no name, no time stamp).
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_out})
find_program(GZIP gzip REQUIRED)
# The manual page is made from the program's own --help, so that it lists every option the program
# takes; packaging/kestrove.h2m adds the files, signals and exit status. Its date is the
# changelog's, not the build's.
find_program(HELP2MAN help2man REQUIRED)
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog changelog_trailer REGEX "^ -- ")
string(REGEX MATCH "[A-Z][a-z][a-z], [0-9]+ [A-Z][a-z][a-z] [0-9]+ [0-9:]+ [-+][0-9]+" changelog_date
       "${changelog_trailer}")
execute_process(COMMAND date -d "${changelog_date}" +%s OUTPUT_VARIABLE changelog_epoch
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
add_custom_command(OUTPUT ${packaging_out}/kestrove.1
                   COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${changelog_epoch} ${HELP2MAN} --no-info --no-discard-stderr
                           --name "unattended sky-survey scheduler for robotic observatories"
                           --include ${CMAKE_SOURCE_DIR}/packaging/kestrove.h2m
                           --output ${packaging_out}/kestrove.1 $<TARGET_FILE:kestrove>
                   DEPENDS kestrove ${CMAKE_SOURCE_DIR}/packaging/kestrove.h2m ${CMAKE_SOURCE_DIR}/packaging/changelog
                   VERBATIM)
foreach(pair "${packaging_out}/kestrove.1:kestrove.1.gz" "${CMAKE_SOURCE_DIR}/packaging/changelog:changelog.gz")
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 source)
    list(GET pair 1 target)
    add_custom_command(OUTPUT ${packaging_out}/${target}
                       COMMAND ${GZIP} -9nc ${source} > ${packaging_out}/${target}
                       DEPENDS ${source} VERBATIM)
    list(APPEND compressed ${packaging_out}/${target})
endforeach()
add_custom_target(kestrove_docs ALL DEPENDS ${compressed})
install(FILES ${packaging_out}/kestrove.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging_out}/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrove)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrove)
set(CPACK_PACKAGE_VENDOR "The Kestrove developers")
set(CPACK_PACKAGE_CONTACT "The Kestrove developers <developers@kestrove.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended sky-survey scheduler for robotic observatories")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrove runs a sky survey through the night: it waits for safe weather and\n"
    "darkness, scores every target of the enabled survey kinds (supernova search,\n"
    "minor planet survey, stellar lightcurves) against the sky, the mount and its\n"
    "history, writes an observing plan for the winner, has the observatory run it\n"
    "and records the observation. It drives the devices of an INDI server, and\n"
    "ships with a simulated observatory to try it and preview a night.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kestrove.org")
# Library dependencies come from dpkg-shlibdeps; Qt loads its SQLite driver at run time, where
# dpkg-shlibdeps cannot see it. The simulators are what the INDI demo runs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "tzdata, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "indi-bin, astrometry.net, astrometry-data-tycho2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
