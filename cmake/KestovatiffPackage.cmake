# The Debian package, made with `cpack -G DEB` in a build tree:
# kestovatiff_VERSION_ARCH.deb with the library, its header, CMake and
# pkg-config files, the host and its manual page. Linux builds only; the
# Windows and ARM cross builds leave it out.
set(KESTOVATIFF_DEB_MAINTAINER "KestovaTIFF maintainers <maintainers@kestovatiff.invalid>" CACHE STRING
  "The Debian package's Maintainer field")

set(CPACK_PACKAGE_NAME kestovatiff)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KestovaTIFF")
set(CPACK_PACKAGE_CONTACT "${KESTOVATIFF_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTOVATIFF_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converts pictures between BMP and TIFF, exact to the byte")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "KestovaTIFF is a small C++17 library, with a C API of three functions,
that converts BMP of every common form to uncompressed RGB TIFF and TIFF
of every common form (uncompressed, PackBits, LZW, Deflate, JPEG and the
fax codings; strips, tiles and planes; BigTIFF) to 24-bit BMP, in
constant memory, writing a destination only when it is complete.

This package holds the shared library, its header, CMake and pkg-config
files, and the command-line host kestovatiff with its manual page.")
set(CPACK_STRIP_FILES ON)
# Depends from what the binaries link (dpkg-shlibdeps), a shlibs file and
# the ldconfig trigger a package with a public shared library needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Debian wants the manual page and changelog compressed, and the copyright
# file in the package's doc folder: added to the staged tree before the
# package is made, so a plain `cmake --install` is unchanged.
string(TIMESTAMP KESTOVATIFF_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
  ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog @ONLY)
# cpack passes the script only variables named CPACK_*.
set(CPACK_KESTOVATIFF_COPYRIGHT ${CMAKE_CURRENT_LIST_DIR}/debian/copyright)
set(CPACK_KESTOVATIFF_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/stage.cmake)
include(CPack)
