# omniORB, ACE and SQLite, as Debian installs them (pkg-config files).
find_package(PkgConfig REQUIRED)
pkg_check_modules(OMNIORB REQUIRED IMPORTED_TARGET GLOBAL omniORB4 omniDynamic4 omnithread4)
pkg_check_modules(ACE REQUIRED IMPORTED_TARGET GLOBAL ACE)
# The operation journal (KroJournal): Debian's libsqlite3-dev.
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET GLOBAL sqlite3)
find_package(Threads REQUIRED)
find_program(OMNIIDL_EXECUTABLE omniidl REQUIRED)

# The versions this project builds with: omniORB 4.2 with ACE 7 (Debian 12)
# and omniORB 4.3 with ACE 8 (Debian 13). Others are refused here rather
# than half-built: the ORB layer reads omniORB internals checked only
# against these (Kro/OrbLayer/OrbInternals.h).
set(KRO_SUPPORTED_TEXT "omniORB 4.2 or 4.3 and ACE 7 or 8 (Debian 12 or 13)")
set(KRO_OMNIORB_VERSION "${OMNIORB_omniORB4_VERSION}")
set(KRO_ACE_VERSION "${ACE_VERSION}")
if(KRO_OMNIORB_VERSION VERSION_LESS 4.2 OR NOT KRO_OMNIORB_VERSION VERSION_LESS 4.4)
  message(FATAL_ERROR "omniORB ${KRO_OMNIORB_VERSION} found; KroServer builds with ${KRO_SUPPORTED_TEXT}")
endif()
if(KRO_ACE_VERSION VERSION_LESS 7 OR NOT KRO_ACE_VERSION VERSION_LESS 9)
  message(FATAL_ERROR "ACE ${KRO_ACE_VERSION} found; KroServer builds with ${KRO_SUPPORTED_TEXT}")
endif()
message(STATUS "omniORB ${KRO_OMNIORB_VERSION} and ACE ${KRO_ACE_VERSION}: supported (${KRO_SUPPORTED_TEXT})")

# omniORB's headers carry no version number a preprocessor can test: the
# ORB layer gets it from here, as 0xMMmmpp.
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.?([0-9]*)" _kro_match "${KRO_OMNIORB_VERSION}")
set(_kro_patch "${CMAKE_MATCH_3}")
if(_kro_patch STREQUAL "")
  set(_kro_patch 0)
endif()
math(EXPR KRO_OMNIORB_VERSION_HEX
     "(${CMAKE_MATCH_1} << 16) | (${CMAKE_MATCH_2} << 8) | ${_kro_patch}" OUTPUT_FORMAT HEXADECIMAL)
