# Installing Velumo (cmake --install, GNUInstallDirs, DESTDIR) and packaging
# it as a Debian package (cpack -G DEB from the build folder, configured with
# -DCMAKE_INSTALL_PREFIX=/usr).
include(GNUInstallDirs)

set(VELUMO_APP_ID io.github.velumo.Velumo)
set(VELUMO_HOMEPAGE https://github.com/velumo/velumo)
set(VELUMO_MAINTAINER "Velumo developers <velumo@users.noreply.github.com>")

# A program in the directory it is installed in keeps its list and take in
# the user's data directory even when it could write its own directory.
set_property(SOURCE playlist/ProgramFiles.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS "VELUMO_INSTALL_BINDIR=\"${CMAKE_INSTALL_FULL_BINDIR}\"")

# The release date in the metainfo, the manual pages and the package's
# changelog: the build's date, or SOURCE_DATE_EPOCH's for a reproducible
# build.
string(TIMESTAMP VELUMO_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP VELUMO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

set(_generated ${CMAKE_BINARY_DIR}/install)
set(_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/velumo)
configure_file(data/${VELUMO_APP_ID}.metainfo.xml.in ${_generated}/${VELUMO_APP_ID}.metainfo.xml @ONLY)
configure_file(data/changelog.in ${_generated}/changelog.Debian @ONLY)

# The manual pages (with the version and date filled in) and the changelog
# are installed compressed, as Debian wants them and as man reads them
# anywhere; -n leaves the time stamp out of the archive.
set(_pages velumo-convert.1)
if(TARGET velumo)
    list(APPEND _pages velumo.1)
endif()
set(_compressed)
foreach(page ${_pages})
    configure_file(man/${page}.in ${_generated}/${page} @ONLY)
endforeach()
foreach(page ${_pages} changelog.Debian)
    add_custom_command(OUTPUT ${_generated}/${page}.gz
        COMMAND gzip -9nc ${_generated}/${page} > ${_generated}/${page}.gz
        DEPENDS ${_generated}/${page} VERBATIM)
    list(APPEND _compressed ${_generated}/${page}.gz)
endforeach()
add_custom_target(velumo_install_files ALL DEPENDS ${_compressed})

install(TARGETS velumo-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
list(TRANSFORM _pages APPEND .gz)
list(TRANSFORM _pages PREPEND ${_generated}/)
install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/copyright ${_generated}/changelog.Debian.gz DESTINATION ${_doc})
install(FILES data/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
    RENAME velumo)

if(TARGET velumo)
    install(TARGETS velumo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES data/${VELUMO_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
    install(FILES ${_generated}/${VELUMO_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
    install(DIRECTORY data/icons/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons
        FILES_MATCHING PATTERN "*.png")
endif()

# The Debian package.
set(CPACK_PACKAGE_NAME velumo)
set(CPACK_PACKAGE_VENDOR "The Velumo developers")
set(CPACK_PACKAGE_CONTACT ${VELUMO_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "play, convert and record audio files and CD tracks")
# Lines as the package's control file shows them (lintian wants them short).
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Velumo is a single-window desktop audio tool. It keeps a play list of audio"
    "files (WAV, MP3, WMA) or of the tracks of an audio CD, plays them, converts"
    "any item to WAV or MP3 (converting a CD track rips it), and records from the"
    "sound card into a WAV file that is then loaded into the player."
    ""
    "The velumo-convert command converts from the command line exactly as the"
    "window does.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELUMO_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VELUMO_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# LAME is opened at run time, so dpkg-shlibdeps cannot see it; MP3 output
# needs it, everything else works without.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libmp3lame0)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# A package lives under /usr; one built for another prefix would install
# into /usr/local, which is the local administrator's, not the package's.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/VelumoPackageCheck.cmake)
include(CPack)
