# The Debian package, built by `cpack -G DEB` in a build folder configured with
# CMAKE_INSTALL_PREFIX=/usr (scripts/build-package.sh does both).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaline-row-porter)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Kestrelby)
set(CPACK_PACKAGE_CONTACT "Kestrelby <support@kestrelby.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Folders the package creates are 0755 whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "append every row of one PostgreSQL table to another table")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tessaline Row Porter is a small desktop tool that appends every row of one\n"
    "PostgreSQL table to a table of another PostgreSQL database, or of the same\n"
    "one, without writing any SQL. Two connection profiles are kept and can be\n"
    "tested; the tables of both databases are listed to pick from, and the rows\n"
    "are copied with a progress bar after a check that both tables can be read\n"
    "and have the same number of columns.\n"
    "\n"
    "Its demo mode (--demo) starts a throwaway PostgreSQL server with two sample\n"
    "databases; that needs the postgresql-15 package.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://kestrelby.example/products/tessaline-row-porter)
# The shared libraries' packages come from dpkg-shlibdeps; the fonts are a run-time need the
# libraries do not show: Arial's metric twin for the screens, a sans-serif for message boxes.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS postgresql-15)

include(CPack)
