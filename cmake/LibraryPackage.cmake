# Installs one of the project's general libraries so that other programs build
# against it: the static archive, its public headers in include/MODULE/, a CMake
# package (find_package(PACKAGE CONFIG) gives the target PACKAGE::PACKAGE, with a
# version file) and the pkg-config module MODULE. Every installed file finds
# the others relative to itself, so the tree may be installed into any prefix.
#
#   floerush_install_library(TARGET target PACKAGE Name MODULE name
#                            DESCRIPTION "one line" HEADERS file...)
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

function(floerush_install_library)
  cmake_parse_arguments(ARG "" "TARGET;PACKAGE;MODULE;DESCRIPTION" "HEADERS" ${ARGN})
  set(includedir ${CMAKE_INSTALL_INCLUDEDIR}/${ARG_MODULE})
  set(packagedir ${CMAKE_INSTALL_LIBDIR}/cmake/${ARG_PACKAGE})
  set(staging ${CMAKE_CURRENT_BINARY_DIR}/package)

  # Position-independent, so that the archive can go into a shared library as
  # well as a program. No caller can interpose on a static library's functions,
  # so they stay as inlinable as without -fPIC.
  set_target_properties(${ARG_TARGET} PROPERTIES
    OUTPUT_NAME ${ARG_MODULE} EXPORT_NAME ${ARG_PACKAGE} POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${ARG_TARGET} PRIVATE -fno-semantic-interposition)
  target_include_directories(${ARG_TARGET} INTERFACE $<INSTALL_INTERFACE:${includedir}>)
  add_library(${ARG_PACKAGE}::${ARG_PACKAGE} ALIAS ${ARG_TARGET})

  install(TARGETS ${ARG_TARGET} EXPORT ${ARG_PACKAGE}Targets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${ARG_HEADERS} DESTINATION ${includedir})
  install(EXPORT ${ARG_PACKAGE}Targets NAMESPACE ${ARG_PACKAGE}:: DESTINATION ${packagedir})

  set(PACKAGE ${ARG_PACKAGE})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/PackageConfig.cmake.in
    ${staging}/${ARG_PACKAGE}Config.cmake INSTALL_DESTINATION ${packagedir})
  write_basic_package_version_file(${staging}/${ARG_PACKAGE}ConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${staging}/${ARG_PACKAGE}Config.cmake ${staging}/${ARG_PACKAGE}ConfigVersion.cmake
    DESTINATION ${packagedir})

  # The module names its folders from its own place, ${pcfiledir}.
  file(RELATIVE_PATH PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" PC_TO_PREFIX "${PC_TO_PREFIX}")
  set(MODULE ${ARG_MODULE})
  set(DESCRIPTION ${ARG_DESCRIPTION})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in ${staging}/${ARG_MODULE}.pc @ONLY)
  install(FILES ${staging}/${ARG_MODULE}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
