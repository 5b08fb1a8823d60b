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

# Tests need no more optimisation than -O1 in a release build: they run small
# tasks, and the engine they test keeps its own flags. It keeps the five
# configurations of make test quick to build.
set(VANTREL_TEST_OPTIMISATION $<$<CONFIG:Release>:-O1>)
target_compile_options(gtest PRIVATE ${VANTREL_TEST_OPTIMISATION})
target_compile_options(gtest_main PRIVATE ${VANTREL_TEST_OPTIMISATION})
target_compile_options(gmock PRIVATE ${VANTREL_TEST_OPTIMISATION})

# vantrel_add_test(NAME SOURCES... [LIBS ...] [LABELS ...])
# One executable, run by CTest as one test (under Wine when cross-compiling).
function(vantrel_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest GTest::gtest_main vantrel_warnings)
  target_compile_options(${name} PRIVATE ${VANTREL_TEST_OPTIMISATION})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()

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
