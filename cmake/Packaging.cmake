# Install rules and the two Debian packages: "folioway" (the desktop program and its tool) and
# "folioway-server" (the server with its system service).
include(GNUInstallDirs)

install(TARGETS folioway folioway-toc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
install(TARGETS folioway-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
# A stripped install (the packages) also drops the compiler's notes, as Debian's own packages do.
foreach(entry "client|folioway;folioway-toc" "server|folioway-server")
  string(REPLACE "|" ";" entry "${entry}")
  list(POP_FRONT entry component)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(program ${entry})
        execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment --remove-section=.note
                                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
                        COMMAND_ERROR_IS_FATAL ANY)
      endforeach()
    endif()" COMPONENT ${component})
endforeach()

set(data ${PROJECT_SOURCE_DIR}/data)
install(FILES ${data}/Folioway.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT client)
install(FILES ${data}/io.folioway.Folioway.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT client)
install(DIRECTORY ${data}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons COMPONENT client)
install(FILES ${data}/screenshots/reading.png DESTINATION ${CMAKE_INSTALL_DATADIR}/folioway/screenshots
        COMPONENT client)
install(FILES ${data}/systemd/folioway-server.default DESTINATION /etc/default RENAME folioway-server
        COMPONENT server)
install(FILES ${data}/logrotate/folioway-server DESTINATION /etc/logrotate.d COMPONENT server)

# The service names the program where this install puts it (/usr for the package, the
# --prefix of "cmake --install"), so it is written at install time. Without libsystemd the
# server cannot report that it listens, and the service must not wait for it.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PACKAGING_LIBSYSTEMD QUIET libsystemd)
if(PACKAGING_LIBSYSTEMD_FOUND)
  set(service_type notify)
else()
  set(service_type simple)
endif()
install(CODE "
  set(unit_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
  set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(FOLIOWAY_SERVICE_TYPE ${service_type})
  file(MAKE_DIRECTORY \"\${unit_dir}\")
  configure_file(\"${data}/systemd/folioway-server.service.in\" \"\${unit_dir}/folioway-server.service\" @ONLY)
  message(STATUS \"Installing: \${unit_dir}/folioway-server.service\")
" COMPONENT server)

# Outside the packages (whose maintainer scripts make the user), say what the service needs.
install(FILES ${data}/systemd/folioway-server.sysusers DESTINATION lib/sysusers.d RENAME folioway-server.conf
        COMPONENT host)
install(CODE "message(STATUS \"folioway-server.service runs as the system user folioway: create it with
  sudo systemd-sysusers   (or: sudo adduser --system --group --home /var/lib/folioway folioway)
then: sudo systemctl daemon-reload && sudo systemctl enable --now folioway-server\")" COMPONENT host)

# Each package's copyright and changelog, where Debian keeps them.
set(doc_dir ${CMAKE_BINARY_DIR}/package-doc)
set(changelog ${doc_dir}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${doc_dir}
  COMMAND gzip -9n -c ${data}/debian/changelog > ${changelog}
  DEPENDS ${data}/debian/changelog VERBATIM)
add_custom_target(package_docs ALL DEPENDS ${changelog})
foreach(component client server)
  if(component STREQUAL "client")
    set(package folioway)
  else()
    set(package folioway-server)
  endif()
  install(FILES ${data}/debian/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component})
endforeach()

# Man pages, written by hand and dated with the release.
set(MAN_DATE ${FOLIOWAY_RELEASE_DATE})
set(man_dir ${CMAKE_BINARY_DIR}/man)
set(man_pages)
foreach(entry "folioway|1|client" "folioway-toc|1|client" "folioway-server|8|server")
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 program)
  list(GET entry 1 section)
  list(GET entry 2 component)
  configure_file(${data}/man/${program}.${section}.in ${man_dir}/${program}.${section} @ONLY)
  set(page ${man_dir}/${program}.${section}.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND gzip -9n -c ${man_dir}/${program}.${section} > ${page}
    DEPENDS ${man_dir}/${program}.${section} VERBATIM)
  list(APPEND man_pages ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME folioway)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Folioway developers <dev@folioway.io>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
# The libraries the programs link, as dpkg-shlibdeps finds them; below, what they load at run
# time that no link reveals.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The first line of each description is its package's summary.
set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME folioway)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION text)
set(CPACK_DEBIAN_CLIENT_DESCRIPTION
    "TXT novel reader and bookshelf\nFolioway reads and manages Chinese web novels kept as plain-text files, and\nbrowses, downloads and shares books through a Folioway catalogue server.")
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS
    "libqt6sql6-sqlite, qt6-qpa-plugins, qt6-translations-l10n, espeak-ng-data, fonts-noto-cjk")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME folioway-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION web)
set(CPACK_DEBIAN_SERVER_DESCRIPTION
    "catalogue server for the Folioway novel reader\nThe catalogue, account and upload server the Folioway reader talks to, with a\nhardened systemd service that keeps its data in /var/lib/folioway. Install\nlibqt6sql6-psql to keep the catalogue in PostgreSQL.")
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "libqt6sql6-sqlite, adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS "libqt6sql6-psql")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    "${data}/debian/postinst;${data}/debian/prerm;${data}/debian/postrm;${data}/debian/conffiles")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Builds both packages and checks what a user installing them gets; needs dpkg-deb.
find_program(DPKG_DEB dpkg-deb)
if(DPKG_DEB AND FOLIOWAY_BUILD_TESTS)
  add_test(NAME packages COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/test-packages.sh ${CMAKE_BINARY_DIR}
                                   ${PROJECT_VERSION})
  set_tests_properties(packages PROPERTIES TIMEOUT 900)
endif()
