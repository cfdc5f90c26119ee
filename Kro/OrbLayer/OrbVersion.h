// OrbVersion: the omniORB versions the ORB layer's version-dependent code
// was written for and checked against. For the layer's own sources only:
// CMake hands them the version it found (cmake/KroDependencies.cmake).
#ifndef KRO_ORBLAYER_ORBVERSION_H
#define KRO_ORBLAYER_ORBVERSION_H

#if !defined(KRO_OMNIORB_VERSION_HEX) || !defined(KRO_ORB_INTERNALS)
#error "KRO_OMNIORB_VERSION_HEX and KRO_ORB_INTERNALS come from Kro/OrbLayer/CMakeLists.txt"
#endif

// omniORB 4.2 (checked with 4.2.5, Debian 12) and 4.3 (4.3.3, Debian 13).
#define KRO_OMNIORB_4_2 (KRO_OMNIORB_VERSION_HEX >= 0x040200 && KRO_OMNIORB_VERSION_HEX < 0x040300)
#define KRO_OMNIORB_4_3 (KRO_OMNIORB_VERSION_HEX >= 0x040300 && KRO_OMNIORB_VERSION_HEX < 0x040400)

// Whether the layer reads omniORB's internals (OrbInternals.h): only on a
// version they were checked against, and not when the build opted out.
#define KRO_ORB_INTERNALS_CHECKED (KRO_ORB_INTERNALS && (KRO_OMNIORB_4_2 || KRO_OMNIORB_4_3))

#endif
