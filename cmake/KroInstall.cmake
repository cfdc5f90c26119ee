# cmake --install: headers, the libraries, the IDL and a package
# configuration, so that an application finds it all with
#   find_package(KroServer REQUIRED)
#   target_link_libraries(myserver PRIVATE Kro::KroServer17)
include(CMakePackageConfigHelpers)

install(TARGETS KroOrbLayer17 KroDazadared17 Dazadared17 KroServer17 KroJournal17 KroStatus17 KroKit17 KroClient17 KroMintToken
  EXPORT KroServerTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

foreach(dir OrbLayer KroDazadared Dazadared KroServer KroJournal KroStatus KroKit KroClient)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/Kro/${dir}/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Kro/${dir}
    FILES_MATCHING PATTERN "*.h"
    # The ORB layer's version-dependent internals: not for applications.
    PATTERN "OrbVersion.h" EXCLUDE PATTERN "TlsContext.h" EXCLUDE)
endforeach()
install(FILES ${KRO_IDL_OUTPUT_DIR}/Krovane.hh DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Kro/KroDazadared)
install(FILES ${PROJECT_SOURCE_DIR}/idl/Krovane.idl DESTINATION ${CMAKE_INSTALL_DATADIR}/Kro/idl)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/KroServer)
install(EXPORT KroServerTargets NAMESPACE Kro:: DESTINATION ${config_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KroServerConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KroServerConfig.cmake
  INSTALL_DESTINATION ${config_dir}
  PATH_VARS CMAKE_INSTALL_DATADIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KroServerConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/KroServerConfig.cmake
  ${PROJECT_BINARY_DIR}/KroServerConfigVersion.cmake
  ${PROJECT_SOURCE_DIR}/cmake/KroIdl.cmake
  DESTINATION ${config_dir})

# pkg-config beside the CMake package: pkg-config --cflags --libs KroServer
# (a server) or KroClient (a client).
string(JOIN " " KRO_PC_SANITIZE_COMPILE ${KRO_SANITIZE_COMPILE_OPTIONS})
string(JOIN " " KRO_PC_SANITIZE_LINK ${KRO_SANITIZE_LINK_OPTIONS})
configure_file(${PROJECT_SOURCE_DIR}/cmake/KroServer.pc.in ${PROJECT_BINARY_DIR}/KroServer.pc @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/KroClient.pc.in ${PROJECT_BINARY_DIR}/KroClient.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/KroServer.pc ${PROJECT_BINARY_DIR}/KroClient.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
