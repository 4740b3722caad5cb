# The Debian package: `cpack -G DEB` in the build folder writes vellum_<version>-<release>_<arch>.deb.
# Its dependencies come from the libraries the program links (dpkg-shlibdeps) plus the programs and
# fonts it uses at run time; the program is stripped; the documentation folder holds the copyright
# and the Debian change log, compressed as Debian's policy asks.

include(GNUInstallDirs)
set(VELLUM_PACKAGE_RELEASE 1)
set(VELLUM_MAINTAINER "The Vellum developers <vellum@vellum-tester.org>")

configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
    COMMAND gzip -9n --stdout ${CMAKE_BINARY_DIR}/packaging/changelog.Debian > ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
    COMMENT "Compressing the Debian change log")
add_custom_target(vellum_package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vellum)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellum)
set(CPACK_PACKAGE_VENDOR "The Vellum developers")
set(CPACK_PACKAGE_CONTACT "${VELLUM_MAINTAINER}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bulk tester of zip archives")
# Lines of the long description as dpkg shows them, each under 80 columns.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Vellum walks a folder and every folder below it, tests every zip archive it"
    "finds (its structure, then every entry decompressed and its CRC-32 checked)"
    "and reports the damaged ones. It shows its progress in a small window, or,"
    "given folders or files on the command line, runs unattended and prints the"
    "reasons, or JSON lines for scripts."
    ""
    "Split sets, zip64, Deflate64, bzip2, LZMA, xz, Zstandard, PPMd and the"
    "methods of the oldest archives (Shrink, Reduce, Implode) are all tested.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELLUM_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELLUM_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.vellum-tester.org/vellum/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# xdg-open shows the reports and the manual; the window's texts are set in DejaVu Sans.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
