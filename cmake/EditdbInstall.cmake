# Installs the host program, the plug-in, the data-access library with its
# public headers and the plug-in's chief header in the usual places, with a
# package config, so that another host or plug-in can be built against them:
#
#   find_package(editdb REQUIRED)
#   target_link_libraries(myhost PRIVATE editdb::dataaccess editdb::api)
#
# Targets: editdb::dataaccess, editdb::api (editdb.h), editdb::gzs007fix
# (the plug-in) and editdb::editdb-host. The programs find the library
# through $ORIGIN run paths, so the installed tree can be moved as a whole.
include(CMakePackageConfigHelpers)

set(EDITDB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/editdb)

target_include_directories(dataaccess PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_include_directories(editdb_api INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/editdb>)
set_target_properties(editdb_api PROPERTIES EXPORT_NAME api)

install(TARGETS dataaccess editdb_api gzs007fix editdb-host
  EXPORT editdbTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/dataaccess/include/dataaccess DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/library/editdb.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/editdb)

install(EXPORT editdbTargets NAMESPACE editdb:: FILE editdbTargets.cmake DESTINATION ${EDITDB_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/editdbConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/editdbConfig.cmake INSTALL_DESTINATION ${EDITDB_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/editdbConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/editdbConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/editdbConfigVersion.cmake
  DESTINATION ${EDITDB_CMAKE_DIR})
