# Libraries from Debian's packages, found through their CMake packages or,
# where a package has none, a find module of ours (cmake/Find*.cmake).
#
# CLI11, nlohmann-json and xxHash are used header-only. Their packages point
# at the host's /usr/include, which the cross build must not search (its
# headers belong to the host's C library); there each is reached through a
# private folder that holds nothing but links to the package's own headers.

# vantrel_header_package(TARGET PACKAGE IMPORTED_TARGET ENTRIES [find_package arguments...])
# Defines the interface library TARGET for the package's headers. ENTRIES
# lists what the package puts in its include folder: its header folder
# ("CLI") or its header files ("xxhash.h").
function(vantrel_header_package target package imported entries)
  if(CMAKE_CROSSCOMPILING)
    # The host's copy, whether a config file or a find module finds it.
    set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE NEVER)
    set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE NEVER)
  endif()
  find_package(${package} ${ARGN} REQUIRED)
  add_library(${target} INTERFACE)
  if(NOT CMAKE_CROSSCOMPILING)
    target_link_libraries(${target} INTERFACE ${imported})
    return()
  endif()
  get_target_property(includes ${imported} INTERFACE_INCLUDE_DIRECTORIES)
  set(links "${CMAKE_BINARY_DIR}/host-headers/${target}")
  file(MAKE_DIRECTORY "${links}")
  foreach(entry IN LISTS entries)
    set(source "")
    foreach(dir IN LISTS includes)
      if(EXISTS "${dir}/${entry}")
        set(source "${dir}/${entry}")
        break()
      endif()
    endforeach()
    if(NOT source)
      message(FATAL_ERROR "${package}: no ${entry} in ${includes}")
    endif()
    file(CREATE_LINK "${source}" "${links}/${entry}" SYMBOLIC)
  endforeach()
  target_include_directories(${target} SYSTEM INTERFACE "${links}")
endfunction()

vantrel_header_package(vantrel_cli11 CLI11 CLI11::CLI11 CLI 2.1 CONFIG)
vantrel_header_package(vantrel_json nlohmann_json nlohmann_json::nlohmann_json nlohmann 3.10 CONFIG)
vantrel_header_package(vantrel_xxhash xxhash xxhash::xxhash xxhash.h 0.8)

# SQLite for the runner's result store. Optional: the cross build finds none
# (Debian has no MinGW package of it) and builds the runner without a store.
find_package(SQLite3)

# hwloc for the machine's shape and the placement of the runner's threads on
# Linux (2.x: CPU kinds). The Windows builds ask the system itself.
if(NOT WIN32)
  find_package(hwloc 2.4 REQUIRED)
endif()
