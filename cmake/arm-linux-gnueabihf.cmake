# Cross build for 32-bit ARM with Debian's arm-linux-gnueabihf toolchain
# (g++-arm-linux-gnueabihf), with
# zlib, libjpeg and libdeflate for the target from multiarch (dpkg
# --add-architecture armhf; zlib1g-dev:armhf, libjpeg62-turbo-dev:armhf,
# libdeflate-dev:armhf); tests run under
# qemu-user (qemu-arm). There
# size_t and long are 32 bits and plain char is unsigned.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(KESTOVATIFF_TARGET_TRIPLE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER ${KESTOVATIFF_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KESTOVATIFF_TARGET_TRIPLE}-g++)

# The toolchain's own root, then the machine's: Debian's multiarch packages
# for the target (zlib1g-dev:armhf, libjpeg62-turbo-dev:armhf) install into
# /usr/lib/<triple> and /usr/include, which the cross compiler searches too.
set(CMAKE_LIBRARY_ARCHITECTURE ${KESTOVATIFF_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${KESTOVATIFF_TARGET_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(KESTOVATIFF_QEMU_ARM qemu-arm REQUIRED)
# The toolchain's C library first: a multiarch libc6:armhf in
# /lib/arm-linux-gnueabihf would otherwise be paired with the toolchain's
# loader, and the two are not built to mix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTOVATIFF_QEMU_ARM} -L /usr/${KESTOVATIFF_TARGET_TRIPLE}
    -E LD_LIBRARY_PATH=/usr/${KESTOVATIFF_TARGET_TRIPLE}/lib)
