# Finds hwloc, the Portable Hardware Locality library (Debian: libhwloc-dev),
# which ships a pkg-config file but no CMake package. The runner reads the
# machine's shape and places its threads with it on Linux.
#
# Defines hwloc_FOUND, hwloc_VERSION, hwloc_INCLUDE_DIR, hwloc_LIBRARY and
# the imported target hwloc::hwloc.

find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(PC_hwloc QUIET hwloc)
endif()

find_path(hwloc_INCLUDE_DIR NAMES hwloc.h HINTS ${PC_hwloc_INCLUDE_DIRS})
find_library(hwloc_LIBRARY NAMES hwloc HINTS ${PC_hwloc_LIBRARY_DIRS})

if(PC_hwloc_VERSION)
  set(hwloc_VERSION "${PC_hwloc_VERSION}")
elseif(hwloc_INCLUDE_DIR AND EXISTS "${hwloc_INCLUDE_DIR}/hwloc.h")
  # The API version, 0x00020800 for 2.8, where pkg-config does not say.
  file(STRINGS "${hwloc_INCLUDE_DIR}/hwloc.h" hwloc_api_line REGEX "^#define HWLOC_API_VERSION 0x[0-9a-fA-F]+")
  string(REGEX REPLACE ".*0x0*([0-9a-fA-F]*)([0-9a-fA-F][0-9a-fA-F])([0-9a-fA-F][0-9a-fA-F])$" "\\1.\\2" hwloc_VERSION
         "${hwloc_api_line}")
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(hwloc REQUIRED_VARS hwloc_LIBRARY hwloc_INCLUDE_DIR VERSION_VAR hwloc_VERSION)
mark_as_advanced(hwloc_INCLUDE_DIR hwloc_LIBRARY)

if(hwloc_FOUND AND NOT TARGET hwloc::hwloc)
  add_library(hwloc::hwloc UNKNOWN IMPORTED)
  set_target_properties(hwloc::hwloc PROPERTIES IMPORTED_LOCATION "${hwloc_LIBRARY}"
                        INTERFACE_INCLUDE_DIRECTORIES "${hwloc_INCLUDE_DIR}")
endif()
