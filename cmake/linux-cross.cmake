# Shared by the Linux cross builds (linux-arm64.cmake, linux-s390x.cmake),
# which set VANTREL_CROSS_TRIPLE ("aarch64-linux-gnu"), VANTREL_CROSS_ARCH
# (Debian's name, "arm64"), VANTREL_CROSS_QEMU ("qemu-aarch64") and
# CMAKE_SYSTEM_PROCESSOR first.
#
# Debian's cross compiler (its own C library in /usr/TRIPLE), the libraries
# of the other architecture installed through multiarch
# (/usr/lib/TRIPLE), and the folder tools/setup-debian.sh unpacks what
# cannot be installed beside the amd64 packages into: the -dev packages'
# headers and Open MPI. The tests run under qemu-user, which takes that
# folder as its library root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${VANTREL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VANTREL_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${VANTREL_CROSS_TRIPLE})

set(VANTREL_CROSS_ROOT "/opt/vantrel/${VANTREL_CROSS_ARCH}" CACHE PATH
    "the ${VANTREL_CROSS_ARCH} headers and libraries tools/setup-debian.sh unpacked")
set(CMAKE_FIND_ROOT_PATH "${VANTREL_CROSS_ROOT}" "/usr/${VANTREL_CROSS_TRIPLE}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config (Findhwloc.cmake) reads the folder's .pc files, not the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${VANTREL_CROSS_ROOT}/usr/lib/${VANTREL_CROSS_TRIPLE}/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${VANTREL_CROSS_ROOT}")

# The -dev packages' headers of this architecture (hwloc's configuration),
# as the compiler of that machine would find them.
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES "${VANTREL_CROSS_ROOT}/usr/include/${VANTREL_CROSS_TRIPLE}")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES "${VANTREL_CROSS_ROOT}/usr/include/${VANTREL_CROSS_TRIPLE}")

# The libraries' own dependencies, for the linker to check them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "")
foreach(dir "${VANTREL_CROSS_ROOT}/usr/lib" "${VANTREL_CROSS_ROOT}/lib" /usr/lib /lib)
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,-rpath-link,${dir}/${VANTREL_CROSS_TRIPLE}")
endforeach()

# Open MPI's compiler wrappers are the host's: FindMPI is told where the
# folder's headers and library are instead, where it has them.
set(MPI_SKIP_COMPILER_WRAPPER ON)
if(EXISTS "${VANTREL_CROSS_ROOT}/usr/lib/${VANTREL_CROSS_TRIPLE}/libmpi.so.40")
  set(MPI_CXX_HEADER_DIR "${VANTREL_CROSS_ROOT}/usr/lib/${VANTREL_CROSS_TRIPLE}/openmpi/include" CACHE PATH "")
  set(MPI_CXX_LIB_NAMES mpi CACHE STRING "")
  set(MPI_mpi_LIBRARY "${VANTREL_CROSS_ROOT}/usr/lib/${VANTREL_CROSS_TRIPLE}/libmpi.so.40" CACHE FILEPATH "")
endif()

# By its full name: some tests run the programs with a PATH of their own.
find_program(VANTREL_CROSS_QEMU_PROGRAM ${VANTREL_CROSS_QEMU})
if(VANTREL_CROSS_QEMU_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${VANTREL_CROSS_QEMU_PROGRAM}" -L "${VANTREL_CROSS_ROOT}")
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTREL_CROSS_QEMU} -L "${VANTREL_CROSS_ROOT}")
endif()
