# The project's one version (project(VERSION) in the top-level CMakeLists.txt) in the forms the
# Windows files need:
#   PELMORA_VERSION_PATCH, PELMORA_VERSION_TWEAK  the patch and tweak numbers, 0 when not given
#   PELMORA_VERSION_QUAD  major.minor.patch.tweak (assembly manifests, MSI ProductVersion)
#   PELMORA_VERSION_TEXT  major "." minor in two digits, "." patch when not 0 (the version block's
#                         string table: "1.00" for 1.0.0)

set(PELMORA_VERSION_PATCH "${PROJECT_VERSION_PATCH}")
if(PELMORA_VERSION_PATCH STREQUAL "")
  set(PELMORA_VERSION_PATCH 0)
endif()
set(PELMORA_VERSION_TWEAK "${PROJECT_VERSION_TWEAK}")
if(PELMORA_VERSION_TWEAK STREQUAL "")
  set(PELMORA_VERSION_TWEAK 0)
endif()
set(PELMORA_VERSION_QUAD
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PELMORA_VERSION_PATCH}.${PELMORA_VERSION_TWEAK}")
if(PROJECT_VERSION_MINOR LESS 10)
  set(PELMORA_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
else()
  set(PELMORA_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()
if(NOT PELMORA_VERSION_PATCH EQUAL 0)
  string(APPEND PELMORA_VERSION_TEXT ".${PELMORA_VERSION_PATCH}")
endif()
