# Cross-building the core (random/, terrain/ and their tests) for 64-bit ARM with
# Debian's cross compiler; its tests run under qemu-user. Libraries come from Debian's
# arm64 packages (multiarch), e.g. libtbb-dev:arm64 and libgtest-dev:arm64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
