# Libraries from Debian's packages, found through their CMake packages.
#
# CLI11 and nlohmann-json are header-only. Their packages point at the host's
# /usr/include, which the cross build must not search (its headers belong to
# the host's C library); there each is reached through a private folder that
# holds nothing but a link to the package's own header folder.

# vantrel_header_package(TARGET PACKAGE IMPORTED_TARGET HEADER_FOLDER [VERSION])
# Defines the interface library TARGET for the package's headers.
function(vantrel_header_package target package imported folder)
  if(CMAKE_CROSSCOMPILING)
    find_package(${package} ${ARGN} CONFIG REQUIRED NO_CMAKE_FIND_ROOT_PATH)
  else()
    find_package(${package} ${ARGN} CONFIG REQUIRED)
  endif()
  add_library(${target} INTERFACE)
  if(NOT CMAKE_CROSSCOMPILING)
    target_link_libraries(${target} INTERFACE ${imported})
    return()
  endif()
  get_target_property(includes ${imported} INTERFACE_INCLUDE_DIRECTORIES)
  set(source "")
  foreach(dir IN LISTS includes)
    if(EXISTS "${dir}/${folder}")
      set(source "${dir}/${folder}")
      break()
    endif()
  endforeach()
  if(NOT source)
    message(FATAL_ERROR "${package}: no ${folder}/ folder in ${includes}")
  endif()
  set(links "${CMAKE_BINARY_DIR}/host-headers/${target}")
  file(MAKE_DIRECTORY "${links}")
  file(CREATE_LINK "${source}" "${links}/${folder}" SYMBOLIC)
  target_include_directories(${target} SYSTEM INTERFACE "${links}")
endfunction()

vantrel_header_package(vantrel_cli11 CLI11 CLI11::CLI11 CLI 2.1)
vantrel_header_package(vantrel_json nlohmann_json nlohmann_json::nlohmann_json nlohmann 3.10)

# SQLite for the runner's result store. Optional: the cross build finds none
# (Debian has no MinGW package of it) and builds the runner without a store.
find_package(SQLite3)
