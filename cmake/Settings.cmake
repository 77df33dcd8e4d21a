# Build-time settings: the one place for identifiers and addresses.
set(TL_BUNDLE_IDENTIFIER "org.tilora.Tilora" CACHE STRING "Bundle identifier")
set(TL_DOWNLOAD_SITE "https://tilora.example.org" CACHE STRING "Download site (feed and archives)")
set(TL_FEED_PATH "/appcast.json" CACHE STRING "Path of the update feed on the download site")
set(TL_SOURCE_URL "https://tilora.example.org/source" CACHE STRING "Source repository web page")
set(TL_HELP_URL "https://tilora.example.org/hilfe/x11" CACHE STRING "Help page on what Tilora needs")

# The updater. The public key is the second line of the publisher's minisign.pub (see README);
# without one, archives are checked against the feed's SHA-256 only.
set(TL_UPDATE_PUBLIC_KEY "" CACHE STRING "minisign public key that update archives must be signed with")
if(TL_UPDATE_PUBLIC_KEY AND NOT TL_UPDATE_PUBLIC_KEY MATCHES "^RW[A-Za-z0-9+/]+$")
  message(FATAL_ERROR "TL_UPDATE_PUBLIC_KEY must be the base64 line of a minisign public key (RW...)")
endif()
set(TL_UPDATE_MAX_ARCHIVE_BYTES 268435456 CACHE STRING "Largest update archive accepted (bytes)")
set(TL_UPDATE_MAX_EXTRACTED_BYTES 536870912 CACHE STRING "Largest size an update may unpack to (bytes)")
set(TL_UPDATE_MAX_ENTRIES 20000 CACHE STRING "Most files, folders and links an update may hold")
option(TL_UPDATE_ALLOW_HTTP_LOOPBACK "Accept update archives over plain HTTP from 127.0.0.1 (tests only)" OFF)
if(TL_UPDATE_ALLOW_HTTP_LOOPBACK)
  set(TL_UPDATE_ALLOW_HTTP_LOOPBACK_VALUE true)
else()
  set(TL_UPDATE_ALLOW_HTTP_LOOPBACK_VALUE false)
endif()

# Maker, imprint and licence texts of the About panel's credits.
set(TL_MAKER_LINE "Tilora ist ein Produkt des Tilora-Projekts." CACHE STRING "Maker line of the About panel")
set(TL_IMPRINT_ADDRESS "Musterstraße 1, 12345 Musterstadt" CACHE STRING "Imprint: postal address")
set(TL_IMPRINT_DIRECTOR "Geschäftsführung: Erika Mustermann" CACHE STRING "Imprint: managing director")
set(TL_IMPRINT_REGISTER "Amtsgericht Musterstadt, HRB 00000 · USt-IdNr.: DE000000000" CACHE STRING
    "Imprint: company register, court and VAT identification number")
set(TL_IMPRINT_CHAMBER "Mitglied der IHK Musterstadt" CACHE STRING "Imprint: chamber membership")
set(TL_CONTACT_EMAIL "kontakt@tilora.example.org" CACHE STRING "Contact e-mail address")
set(TL_WEB_DOMAIN "tilora.example.org" CACHE STRING "The maker's web domain")
set(TL_LICENCE_LINE "© 2026 Tilora-Projekt. Diese Software wird ohne jede Gewährleistung bereitgestellt; Nutzung, Veränderung und Weitergabe sind unter den Bedingungen der MIT-Lizenz frei."
    CACHE STRING "Rights and licence line of the About panel: year, maker, no warranty, MIT terms")

configure_file(${CMAKE_SOURCE_DIR}/cmake/TLBuildSettings.h.in
               ${CMAKE_BINARY_DIR}/generated/TLBuildSettings.h @ONLY)
