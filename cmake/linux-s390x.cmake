# Cross build for 64-bit IBM Z Linux (Debian's g++-s390x-linux-gnu), a
# big-endian machine: the check that nothing assumes a byte order. The tests
# run under qemu-s390x. Preset linux-s390x; tools/setup-debian.sh s390x
# installs what it needs (no Open MPI: vantrel-mpi is not built).
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(VANTREL_CROSS_TRIPLE s390x-linux-gnu)
set(VANTREL_CROSS_ARCH s390x)
set(VANTREL_CROSS_QEMU qemu-s390x)
include("${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake")
