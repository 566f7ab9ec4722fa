# A maker's settings for the program, kept in the maker's own repository: a CMake initial-cache
# file. A hand build takes it with `cmake -C FILE ...`; scripts/release and scripts/reproduce with
# `--settings FILE`. Every setting left out keeps its default (CMakeLists.txt); configuring prints
# what the program will trust, and a release folder carries the same summary in SETTINGS.txt.
set(BRIMO_RELEASE_HOST "download.example.com" CACHE STRING "")
set(BRIMO_SUPPORT_URL "https://example.com/support" CACHE STRING "")
# The signer whose Authenticode signature every downloaded installer must carry, exactly as the
# program reads it (common name, else organisational unit, else organisation). Empty runs every
# download unverified, which scripts/release refuses unless told --unverified.
set(BRIMO_INSTALLER_PUBLISHER "Example Software Ltd" CACHE STRING "")
set(BRIMO_INSTALLER_PRODUCT "" CACHE STRING "")
set(BRIMO_MINIMUM_INSTALLER_VERSION "" CACHE STRING "")
# One or two ECDSA P-256 public keys (uncompressed points in hexadecimal, "04..."), ';' between them.
set(BRIMO_RELEASE_KEYS "" CACHE STRING "")
set(BRIMO_REPORT_URL "" CACHE STRING "")
set(BRIMO_COMPANY_NAME "Example Software Ltd" CACHE STRING "")
set(BRIMO_PRODUCT_NAME "Example" CACHE STRING "")
set(BRIMO_LEGAL_COPYRIGHT "Copyright (C) 2026 Example Software Ltd" CACHE STRING "")
