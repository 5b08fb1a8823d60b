# Cross build for 64-bit ARM Linux (Debian's g++-aarch64-linux-gnu); the
# tests run under qemu-aarch64. Preset linux-arm64; tools/setup-debian.sh
# arm64 installs what it needs.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VANTREL_CROSS_TRIPLE aarch64-linux-gnu)
set(VANTREL_CROSS_ARCH arm64)
set(VANTREL_CROSS_QEMU qemu-aarch64)
include("${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake")
