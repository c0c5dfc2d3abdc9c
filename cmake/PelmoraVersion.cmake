# The project's one version (project(VERSION) in the top-level CMakeLists.txt) in the forms the
# Windows files need:
#   PELMORA_VERSION       major.minor.patch, what the release files are named by
#   PELMORA_VERSION_MAJOR, PELMORA_VERSION_MINOR, PELMORA_VERSION_PATCH, PELMORA_VERSION_TWEAK
#                         its numbers, 0 when not given
#   PELMORA_VERSION_QUAD  major.minor.patch.tweak (assembly manifests, MSI ProductVersion)
#   PELMORA_VERSION_TEXT  major "." minor in two digits, "." patch when not 0 (the version block's
#                         string table: "1.00" for 1.0.0)
# PELMORA_WINDOWS_VERSION (a cache variable, empty by default) stands in for the project's version
# in these files only: the release's upgrade check builds the same sources as a later version.

set(PELMORA_WINDOWS_VERSION "" CACHE STRING
    "Version the Windows files carry instead of the project's (the upgrade check); empty: the project's")
if(PELMORA_WINDOWS_VERSION STREQUAL "")
  set(PELMORA_VERSION "${PROJECT_VERSION}")
elseif(PELMORA_WINDOWS_VERSION MATCHES "^[0-9]+\\.[0-9]+(\\.[0-9]+(\\.[0-9]+)?)?$")
  set(PELMORA_VERSION "${PELMORA_WINDOWS_VERSION}")
else()
  message(FATAL_ERROR "PELMORA_WINDOWS_VERSION must be major.minor[.patch[.tweak]], not ${PELMORA_WINDOWS_VERSION}")
endif()
string(REPLACE "." ";" numbers "${PELMORA_VERSION}.0.0")
list(GET numbers 0 PELMORA_VERSION_MAJOR)
list(GET numbers 1 PELMORA_VERSION_MINOR)
list(GET numbers 2 PELMORA_VERSION_PATCH)
list(GET numbers 3 PELMORA_VERSION_TWEAK)
set(PELMORA_VERSION_QUAD
    "${PELMORA_VERSION_MAJOR}.${PELMORA_VERSION_MINOR}.${PELMORA_VERSION_PATCH}.${PELMORA_VERSION_TWEAK}")
if(PELMORA_VERSION_MINOR LESS 10)
  set(PELMORA_VERSION_TEXT "${PELMORA_VERSION_MAJOR}.0${PELMORA_VERSION_MINOR}")
else()
  set(PELMORA_VERSION_TEXT "${PELMORA_VERSION_MAJOR}.${PELMORA_VERSION_MINOR}")
endif()
if(NOT PELMORA_VERSION_PATCH EQUAL 0)
  string(APPEND PELMORA_VERSION_TEXT ".${PELMORA_VERSION_PATCH}")
endif()
