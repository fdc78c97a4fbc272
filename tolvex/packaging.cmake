# Installing libtolvex: the shared library with its SONAME links, the public header,
# a CMake package (find_package(tolvex) gives tolvex::tolvex), a pkg-config file and
# the Windows .def with the fixed ordinals.
include(CMakePackageConfigHelpers)

set(TOLVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tolvex)
set(TOLVEX_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS tolvex EXPORT tolvexTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tolvex COMPONENT development)

install(EXPORT tolvexTargets NAMESPACE tolvex:: DESTINATION ${TOLVEX_CMAKE_DIR} COMPONENT development)

configure_package_config_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/tolvexConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/tolvexConfig.cmake
  INSTALL_DESTINATION ${TOLVEX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tolvexConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tolvexConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/tolvexConfigVersion.cmake
  DESTINATION ${TOLVEX_CMAKE_DIR} COMPONENT development)

# The .pc file finds its prefix from where it is installed, so a package installed with
# `cmake --install --prefix <dir>` (or moved later) still points at its own files.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(TOLVEX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(TOLVEX_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(TOLVEX_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  string(REGEX REPLACE "[^/]+" ".." _tolvex_pc_up "${TOLVEX_PKGCONFIG_DIR}")
  set(TOLVEX_PC_PREFIX "\${pcfiledir}/${_tolvex_pc_up}")
  set(TOLVEX_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(TOLVEX_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/tolvex.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tolvex.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tolvex.pc DESTINATION ${TOLVEX_PKGCONFIG_DIR} COMPONENT development)

install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tolvex.def DESTINATION ${CMAKE_INSTALL_DATADIR}/tolvex
  COMPONENT development)
