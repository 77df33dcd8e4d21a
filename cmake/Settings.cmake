# Build-time settings: the one place for identifiers and addresses.
set(TL_BUNDLE_IDENTIFIER "org.tilora.Tilora" CACHE STRING "Bundle identifier")
set(TL_DOWNLOAD_SITE "https://tilora.example.org" CACHE STRING "Download site (feed and archives)")
set(TL_FEED_PATH "/appcast.json" CACHE STRING "Path of the update feed on the download site")
set(TL_SOURCE_URL "https://tilora.example.org/source" CACHE STRING "Source repository web page")
set(TL_HELP_URL "https://tilora.example.org/hilfe/x11" CACHE STRING "Help page on what Tilora needs")

configure_file(${CMAKE_SOURCE_DIR}/cmake/TLBuildSettings.h.in
               ${CMAKE_BINARY_DIR}/generated/TLBuildSettings.h @ONLY)
