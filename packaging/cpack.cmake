# The Debian package: kelvamor-host with the module, man page, desktop entry and icon.
# dpkg-shlibdeps names the packages of the libraries the binaries load; what Qt and
# the host load by other means is named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvamor-host)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Landscape Rovandel developers <rovandel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "heightmap host with the Landscape Rovandel terrain plug-in")
set(CPACK_PACKAGE_DESCRIPTION "kelvamor-host opens heightmaps (GeoTIFF, PNG, ASCII grid, \
SRTM HGT, RAW), runs the Landscape Rovandel plug-in on them (Soften, Add Noise, Add \
Hill, Flatten, Glaciate, Canyonize) in a window or in batch mode, and saves the \
result with its georeferencing.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's platform plugins (offscreen for batch, xcb for the window) and a font for the
# dialog are loaded at run time, so no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6gui6, fonts-dejavu-core")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
