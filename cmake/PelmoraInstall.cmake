# Installing Pelmora and exporting its targets as the package Pelmora (namespace pelmora::, the same names as the targets in the tree).
#
#   pelmora_install_targets(<target>... [EXPORT_NAME <name>])
#     Installs the targets into the standard folders and adds them to the export set
#     PelmoraTargets. Each target is exported as pelmora::<EXPORT_NAME property or its name
#     without the pelmora_ prefix>.
#
#   pelmora_install_package()
#     Called once, last, from the top-level CMakeLists: writes PelmoraConfig.cmake, its version
#     file and the targets file under <libdir>/cmake/Pelmora.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(PELMORA_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Pelmora" CACHE STRING
    "Where the package configuration of Pelmora is installed, relative to the prefix")

function(pelmora_install_targets)
  if(NOT PELMORA_INSTALL)
    return()
  endif()
  foreach(target IN LISTS ARGN)
    get_target_property(export_name ${target} EXPORT_NAME)
    if(NOT export_name OR export_name STREQUAL "${target}")
      string(REGEX REPLACE "^pelmora_" "" export_name "${target}")
      set_target_properties(${target} PROPERTIES EXPORT_NAME ${export_name})
    endif()
  endforeach()
  install(TARGETS ${ARGN}
    EXPORT PelmoraTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endfunction()

function(pelmora_install_package)
  if(NOT PELMORA_INSTALL)
    return()
  endif()
  install(EXPORT PelmoraTargets NAMESPACE pelmora:: DESTINATION "${PELMORA_INSTALL_CMAKEDIR}")
  configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/PelmoraConfig.cmake.in"
    "${PROJECT_BINARY_DIR}/PelmoraConfig.cmake"
    INSTALL_DESTINATION "${PELMORA_INSTALL_CMAKEDIR}")
  write_basic_package_version_file("${PROJECT_BINARY_DIR}/PelmoraConfigVersion.cmake"
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES "${PROJECT_BINARY_DIR}/PelmoraConfig.cmake" "${PROJECT_BINARY_DIR}/PelmoraConfigVersion.cmake"
    DESTINATION "${PELMORA_INSTALL_CMAKEDIR}")
  install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" "${PROJECT_SOURCE_DIR}/NOTICE" "${PROJECT_SOURCE_DIR}/README.md"
    DESTINATION "${CMAKE_INSTALL_DOCDIR}")
endfunction()
