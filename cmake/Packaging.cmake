# The Debian package of the console, built by CPack: venues install programs with apt.
#   cmake --preset release && cmake --build --preset release --target package
# writes build/release/orvanta-console_<version>_<arch>.deb.

include(GNUInstallDirs)

# What Debian asks of every package besides the program: the copyright file and the
# changelog in /usr/share/doc/<package>, and a manual page. Changelog and manual page
# are compressed with gzip -9n: best compression, and no name or time stamp in the
# header, so the same sources give the same package.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(orvanta_packaging_src ${PROJECT_SOURCE_DIR}/packaging)
set(orvanta_packaging_bin ${PROJECT_BINARY_DIR}/packaging)
set(orvanta_gzipped)
foreach(name IN ITEMS changelog orvanta-console.1)
  add_custom_command(
    OUTPUT ${orvanta_packaging_bin}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${orvanta_packaging_src}/${name} ${orvanta_packaging_bin}/${name}
    COMMAND ${GZIP_PROGRAM} -9nf ${orvanta_packaging_bin}/${name}
    DEPENDS ${orvanta_packaging_src}/${name}
    COMMENT "Compressing ${name}"
    VERBATIM)
  list(APPEND orvanta_gzipped ${orvanta_packaging_bin}/${name}.gz)
endforeach()
add_custom_target(orvanta_package_docs ALL DEPENDS ${orvanta_gzipped})

set(orvanta_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvanta-console)
install(FILES ${orvanta_packaging_src}/copyright ${orvanta_packaging_bin}/changelog.gz
        DESTINATION ${orvanta_docdir})
install(FILES ${orvanta_packaging_bin}/orvanta-console.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvanta-console)
# CPack would build the version from the first three numbers only; the fourth, the
# build number, tells two packages apart.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Orvanta)
set(CPACK_PACKAGE_CONTACT "Orvanta console developers <console@orvanta.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operator console for self-service ordering kiosks")
set(CPACK_PACKAGE_DESCRIPTION
    "Keeps a TCP connection to every self-service ordering kiosk of a venue, shows\n"
    "each kiosk's state in a window that lives in the notification area and on a\n"
    "full-screen information board, opens an order confirmation window when a\n"
    "customer reaches payment, and prints the receipt on a CUPS printer or on an\n"
    "ESC/POS receipt printer on a serial port.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Directories the install creates get 0755 whatever the umask of the one who builds.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # <package>_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the console loads at run time, which dpkg-shlibdeps cannot see in the program
# file: the SVG image and icon plugins (libqt6svg6; the icons are SVG), the SQLite driver
# of the order journal (libqt6sql6-sqlite) and the Russian texts of Qt's standard buttons
# (qt6-translations-l10n). The xcb platform plugin needs
# no entry: Debian ships it in libqt6gui6, which the program links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, libqt6sql6-sqlite, qt6-translations-l10n")
# The sound of a waiting order comes from the freedesktop sound theme; without it the
# console falls back to the desktop's beep, so the theme is recommended, not required.
# Qt's PostgreSQL driver is loaded only when the journal is shared on a server; a console
# with its journal on its own disk runs without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sound-theme-freedesktop, libqt6sql6-psql")
# The autostart entry lives in /etc: dpkg must keep an administrator's edit of it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${orvanta_packaging_src}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
