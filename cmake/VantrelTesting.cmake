# GoogleTest built from the Debian sources with this build's own compiler and
# flags, so it matches sanitizer builds and the MinGW cross build alike.
set(VANTREL_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(NOT EXISTS "${VANTREL_GTEST_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found at ${VANTREL_GTEST_SOURCE}: run tools/setup-debian.sh")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory("${VANTREL_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)

# Tests are compiled without optimisation in a release build and in the
# sanitizers' builds: they run small tasks, and the engine and the libraries
# they test keep their own flags. It keeps the configurations of make test
# quick to build (and out of reach of GCC 12's false array-bounds warnings
# in inlined string code, at -O1 under ThreadSanitizer).
set(VANTREL_TEST_OPTIMISATION $<$<CONFIG:Release,RelWithDebInfo>:-O0>)
target_compile_options(gtest PRIVATE ${VANTREL_TEST_OPTIMISATION})
target_compile_options(gtest_main PRIVATE ${VANTREL_TEST_OPTIMISATION})
target_compile_options(gmock PRIVATE ${VANTREL_TEST_OPTIMISATION})

# GoogleTest's, its matchers' and nlohmann-json's headers, precompiled once
# per build for every test (each test file would parse them again: a second
# or two each). A test whose flags do not match the precompiled header's
# reads the headers themselves instead.
file(WRITE "${CMAKE_BINARY_DIR}/vantrel_test_pch.cpp" "")
add_library(vantrel_test_pch OBJECT "${CMAKE_BINARY_DIR}/vantrel_test_pch.cpp")
target_link_libraries(vantrel_test_pch PRIVATE GTest::gmock vantrel_json vantrel_warnings)
target_compile_options(vantrel_test_pch PRIVATE ${VANTREL_TEST_OPTIMISATION})
target_precompile_headers(vantrel_test_pch PRIVATE <gmock/gmock.h> <gtest/gtest.h> <nlohmann/json.hpp>)

# vantrel_add_test(NAME SOURCES... [LIBS ...] [LABELS ...])
# One executable, run by CTest as one test (under Wine when cross-compiling).
function(vantrel_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest GTest::gtest_main vantrel_json vantrel_warnings)
  target_compile_options(${name} PRIVATE ${VANTREL_TEST_OPTIMISATION})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}")
  target_precompile_headers(${name} REUSE_FROM vantrel_test_pch)
  set_target_properties(${name} PROPERTIES PCH_WARN_INVALID OFF)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()

# A ThreadSanitizer or AddressSanitizer build: its tests run several times
# slower, and check the code's threads and memory, not its words.
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
  set(VANTREL_SANITIZED ON)
else()
  set(VANTREL_SANITIZED OFF)
endif()

# The layers whose tests are built: "all", or a list ("engine;export;...").
# The ThreadSanitizer build keeps those with threads of their own, and the
# core's.
set(VANTREL_TEST_LAYERS "all" CACHE STRING "The layers whose tests are built: all, or a list of tests/ folders")
macro(vantrel_layer_tests layer)
  if(VANTREL_TEST_LAYERS STREQUAL "all" OR "${layer}" IN_LIST VANTREL_TEST_LAYERS)
    add_subdirectory(${layer})
  endif()
endmacro()

# A Linux build for another processor runs its programs under an emulator
# (qemu-user, cmake/linux-cross.cmake): CTest puts it before a test's own
# executable, and the test scripts reach the programs they drive through
# vantrel_test_program.
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR AND NOT WIN32)
  set(VANTREL_EMULATED ON)
else()
  set(VANTREL_EMULATED OFF)
endif()

# vantrel_test_program(VAR TARGET)
# How a test script runs the program TARGET: its file, or in an emulated
# build a script beside it that runs it under the emulator (one process: the
# script execs the emulator, so signals reach the program).
function(vantrel_test_program var target)
  if(NOT VANTREL_EMULATED)
    set(${var} "$<TARGET_FILE:${target}>" PARENT_SCOPE)
    return()
  endif()
  set(script "${CMAKE_BINARY_DIR}/emulated/${target}")
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "\" \"" emulator)
  file(GENERATE OUTPUT "${script}" CONTENT "#!/bin/sh\nexec \"${emulator}\" \"$<TARGET_FILE:${target}>\" \"$@\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(${var} "${script}" PARENT_SCOPE)
endfunction()
