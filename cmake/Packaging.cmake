# Install rules and the two Debian packages: "folioway" (the desktop program and its tool) and
# "folioway-server" (the server with its system service).
include(GNUInstallDirs)

install(TARGETS folioway folioway-toc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
install(TARGETS folioway-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)

set(data ${PROJECT_SOURCE_DIR}/data)
install(FILES ${data}/Folioway.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT client)
install(FILES ${data}/io.folioway.Folioway.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT client)
install(DIRECTORY ${data}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons COMPONENT client)
install(FILES ${data}/systemd/folioway-server.service DESTINATION lib/systemd/system COMPONENT server)
install(FILES ${data}/systemd/folioway-server.default DESTINATION /etc/default RENAME folioway-server
        COMPONENT server)
install(FILES ${data}/logrotate/folioway-server DESTINATION /etc/logrotate.d COMPONENT server)

# Man pages from each program's --help, made once the program is built.
set(man_dir ${CMAKE_BINARY_DIR}/man)
set(man_pages)
foreach(entry "folioway|TXT novel reader and bookshelf" "folioway-toc|print the chapters the reader finds in a book"
              "folioway-server|catalogue, account and upload server for Folioway")
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 program)
  list(GET entry 1 summary)
  set(page ${man_dir}/${program}.1.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${program} "-DSUMMARY=${summary}"
            -DVERSION=${PROJECT_VERSION} -DOUTPUT=${page} -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake VERBATIM)
  list(APPEND man_pages ${page})
  if(program STREQUAL "folioway-server")
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT server)
  else()
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT client)
  endif()
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME folioway)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Folioway developers <dev@folioway.io>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TXT novel reader and bookshelf")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME folioway)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION text)
set(CPACK_COMPONENT_CLIENT_DESCRIPTION
    "TXT novel reader and bookshelf\n Folioway reads and manages Chinese web novels kept as plain-text files, and\n browses, downloads and shares books through a Folioway catalogue server.")
# The run-time libraries only, as Debian bookworm names them.
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), libqt6sql6 (>= 6.4), libqt6sql6-sqlite, libqt6xml6, libqt6concurrent6, libqt6webenginewidgets6, libqt6webenginecore6, libqt6webchannel6, libqt6multimedia6, qt6-qpa-plugins, qt6-translations-l10n, libespeak-ng1, espeak-ng-data, libarchive13, libxcb1, libxcb-keysyms1, libx11-6, fonts-noto-cjk")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME folioway-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION web)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "catalogue server for Folioway\n The catalogue, account and upload server the Folioway reader talks to, with a\n hardened systemd service that keeps its data in /var/lib/folioway.")
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6sql6 (>= 6.4), libqt6sql6-sqlite, libmicrohttpd12, libsodium23, libarchive13, adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    "${data}/debian/postinst;${data}/debian/prerm;${data}/debian/postrm;${data}/debian/conffiles")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Builds both packages and checks what a user installing them gets; needs dpkg-deb.
find_program(DPKG_DEB dpkg-deb)
if(DPKG_DEB AND FOLIOWAY_BUILD_TESTS)
  add_test(NAME packages COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/test-packages.sh ${CMAKE_BINARY_DIR}
                                   ${PROJECT_VERSION})
  set_tests_properties(packages PROPERTIES TIMEOUT 600)
endif()
