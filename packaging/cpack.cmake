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
result with its georeferencing. The rovandel Python package brings the same \
operations to NumPy and Dask arrays, and a QGIS plug-in to the Processing toolbox.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's platform plugins (offscreen for batch, xcb for the window) and a font for the
# dialog are loaded at run time, so no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6gui6, fonts-dejavu-core")
# The rovandel Python package (in Debian's folder for the system Python): NumPy for the
# actions, Dask and rasterio for rovandel.dask and python3 -m rovandel.tiles.
if(TARGET _rovandel)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", python3 (>= 3.11), python3 (<< 3.12), python3-numpy")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-dask, python3-distributed, python3-rasterio")
endif()
# The QGIS provider (in QGIS's folder of system plug-ins) needs QGIS with its Python.
if(TARGET qgis_provider)
  list(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS qgis python3-qgis)
  list(JOIN CPACK_DEBIAN_PACKAGE_RECOMMENDS ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS)
endif()
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
