# What the Debian package installs, and how CPack makes it ("cpack -G DEB" in the build folder:
# p1import_<version>_amd64.deb). Everything below the install prefix:
#   bin/p1import                       the launcher (packaging/p1import.sh), on the PATH
#   lib/p1import/p1import              the program
#   share/applications/p1import.desktop, share/icons/hicolor/scalable/apps/p1import.svg
#   share/man/man1/p1import.1.gz       the French man page, made from --help at build time
#   share/doc/p1import/                README, its picture, copyright
# The libraries are Debian's own, declared as dependencies, never copied into the package.

include(GNUInstallDirs)

install(TARGETS p1import RUNTIME DESTINATION lib/p1import)
install(PROGRAMS packaging/p1import.sh DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME p1import)
install(FILES packaging/p1import.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/p1import.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES README.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES docs/report.png DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

set(p1_man_page ${CMAKE_BINARY_DIR}/p1import.1.gz)
add_custom_command(OUTPUT ${p1_man_page}
  COMMAND bash ${CMAKE_SOURCE_DIR}/packaging/make-manpage.sh $<TARGET_FILE:p1import>
          ${CMAKE_SOURCE_DIR}/packaging/man-sections.roff ${p1_man_page}
  DEPENDS p1import packaging/make-manpage.sh packaging/help-to-man.awk packaging/man-sections.roff
  COMMENT "Page de manuel de p1import"
  VERBATIM)
add_custom_target(p1_man_page ALL DEPENDS ${p1_man_page})
install(FILES ${p1_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME p1import)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Les développeurs de p1import")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "importation d'un cabinet médical de Sorvane vers Tessaris")
set(CPACK_PACKAGE_DESCRIPTION
  "Lit les deux fichiers Access de Sorvane (V4.mdb, Ordo.mdb) et son dossier de courriers RTF, et
écrit les utilisateurs, correspondants, patients, antécédents, consultations, courriers et
prescriptions dans la base SQL de Tessaris (SQL Server par ODBC, PostgreSQL ou SQLite). Chaque
ligne est enregistrée ou nommée dans le journal avec la raison de son refus ; un rapport de
rapprochement accompagne le journal. Fenêtre, ligne de commande et vérification sans écriture.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links (Qt, libmdb, libpq, SQLite, mimalloc) are found by
# dpkg-shlibdeps; what it loads by name at run time is declared here: Qt's SQL drivers of the
# three engines, and the ODBC driver manager and FreeTDS driver that reach SQL Server.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libqt6sql6-sqlite, libqt6sql6-psql, libqt6sql6-odbc, unixodbc, tdsodbc")
# The French texts of the dialogs Qt draws itself (file and folder choice), and Qt's reader of
# SVG icons, which gives the window the icon of its menu entry.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, libqt6svg6")
include(CPack)
