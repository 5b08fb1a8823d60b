# Finds the xxHash headers (Debian: libxxhash-dev), which ship no CMake
# package of their own. Vantrel uses xxHash header-only (XXH_INLINE_ALL), so
# no library is looked for.
#
# Defines xxhash_FOUND, xxhash_VERSION, xxhash_INCLUDE_DIR and the interface
# target xxhash::xxhash.

find_path(xxhash_INCLUDE_DIR NAMES xxhash.h)

if(xxhash_INCLUDE_DIR AND EXISTS "${xxhash_INCLUDE_DIR}/xxhash.h")
  file(STRINGS "${xxhash_INCLUDE_DIR}/xxhash.h" xxhash_version_lines
       REGEX "^#define XXH_VERSION_(MAJOR|MINOR|RELEASE)[ \t]+[0-9]+")
  foreach(part MAJOR MINOR RELEASE)
    string(REGEX REPLACE ".*#define XXH_VERSION_${part}[ \t]+([0-9]+).*" "\\1" xxhash_${part} "${xxhash_version_lines}")
  endforeach()
  set(xxhash_VERSION "${xxhash_MAJOR}.${xxhash_MINOR}.${xxhash_RELEASE}")
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(xxhash REQUIRED_VARS xxhash_INCLUDE_DIR VERSION_VAR xxhash_VERSION)
mark_as_advanced(xxhash_INCLUDE_DIR)

if(xxhash_FOUND AND NOT TARGET xxhash::xxhash)
  add_library(xxhash::xxhash INTERFACE IMPORTED)
  set_target_properties(xxhash::xxhash PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${xxhash_INCLUDE_DIR}")
endif()
