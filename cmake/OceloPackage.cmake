# The Debian package (`make package`, or `cpack` in the build folder): CPack's DEB generator over the
# install rules, installed under /usr. The package's dependencies are found by dpkg-shlibdeps (Debian
# dpkg-dev, which needs `file`) from the libraries the programs link.
set(OCELO_DEB_MAINTAINER "the Ocelo developers <ocelo@ocelo.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ocelo)
set(CPACK_PACKAGE_VENDOR "the Ocelo developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "text-encoding converter for UTF-8, UTF-16 and Shift_JIS (cp932)")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # ocelo_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OCELO_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Japanese glyphs for the dialog's texts, and the opener of the output folder.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, xdg-utils")
# The extended description; the synopsis above it is CPACK_PACKAGE_DESCRIPTION_SUMMARY.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Ocelo writes converted copies of text files: an unchanged copy, UTF-8 without
a mark, UTF-16 little-endian with a mark, or Shift_JIS as Windows writes it
(code page 932). It finds each file's encoding from its bytes alone, keeps its
line ends, never writes a source file, refuses files that are not text, backs
up an existing copy before replacing it, and copies a file unchanged rather
than lose a character.
.
The package holds the dialog ocelo, which converts the files dropped onto it,
and the terminal program ocelo-cli, which also reads standard input, writes
standard output and JSON, and names the encoding of a file for iconv.")

include(CPack)
