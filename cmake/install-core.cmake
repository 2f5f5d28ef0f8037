# `cmake --install` of the C++ core for C++ users: the static library, the
# headers of every subsystem (the binding is no header and stays out) and a
# CMake package, so that a user writes
#   find_package(corvane_burn_watch CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE corvane_burn_watch::burn_watch_core)
# The Python wheel sets BURN_WATCH_INSTALL=OFF and ships none of this.
include(CMakePackageConfigHelpers)

set(package_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/corvane_burn_watch)

install(TARGETS burn_watch_core
  EXPORT corvane_burn_watchTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/corvane_burn_watch
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.hpp"
  PATTERN simulator EXCLUDE
  PATTERN __pycache__ EXCLUDE)
install(EXPORT corvane_burn_watchTargets
  NAMESPACE corvane_burn_watch::
  DESTINATION ${package_config_dir})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/corvane_burn_watchConfig.cmake.in
  ${PROJECT_BINARY_DIR}/corvane_burn_watchConfig.cmake
  INSTALL_DESTINATION ${package_config_dir})
# 0.x: a new minor version may change the API.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/corvane_burn_watchConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/corvane_burn_watchConfig.cmake
  ${PROJECT_BINARY_DIR}/corvane_burn_watchConfigVersion.cmake
  DESTINATION ${package_config_dir})
