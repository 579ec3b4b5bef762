# Toolchain for the arm64 (AArch64) Linux build with Debian's cross compiler
# (g++-aarch64-linux-gnu), against a sysroot of Debian 12's arm64 packages:
#   cmake --preset arm64     (CMakePresets.json; make arm64 runs it)
# The one binary runs on Debian 12 and 13 for arm64 (Raspberry Pi OS 64-bit,
# the Linux of ARM Chromebooks). It is the desktop build (src/platform/linux)
# built for another processor: the same sources, options and package.
#
# The sysroot is VESK_SYSROOT, by default sysroot/ in the build folder. When
# it is missing, or was made of another suite or package list, configuring
# makes it anew with scripts/debian_root.sh from Debian's packages alone
# (mmdebstrap, about 430 MB). Programs built here (the tests) run under
# qemu-aarch64 in user mode, in runtime roots the tests make
# (tests/CMakeLists.txt, tests/xharness.py); nothing here needs binfmt.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(VESK_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${VESK_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VESK_TRIPLE}-g++)
# Debian's name of the architecture: the package's, and the one Debian's
# tools asked while configuring (dpkg-buildflags, say) answer for.
set(VESK_DEB_ARCH arm64)
set(ENV{DEB_HOST_ARCH} ${VESK_DEB_ARCH})

# The sysroot: what the build compiles and links against, and what the
# package's dependencies are computed from.
set(VESK_SYSROOT_SUITE bookworm)
set(VESK_SYSROOT_PACKAGES libsdl1.2-dev,libx11-dev,libstdc++-12-dev,libc6-dev,libgtest-dev)
if(NOT VESK_SYSROOT)
  set(VESK_SYSROOT ${CMAKE_BINARY_DIR}/sysroot)
endif()
set(VESK_SYSROOT ${VESK_SYSROOT} CACHE PATH "The arm64 sysroot (made when missing)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VESK_SYSROOT)
# scripts/debian_root.sh keeps a sysroot made of the same packages.
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../../../scripts/debian_root.sh extract
    ${VESK_SYSROOT} ${VESK_SYSROOT_SUITE} ${VESK_DEB_ARCH} ${VESK_SYSROOT_PACKAGES}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "could not make the sysroot ${VESK_SYSROOT} with scripts/debian_root.sh "
    "(it needs mmdebstrap: scripts/setup.sh arm64)")
endif()

set(CMAKE_SYSROOT ${VESK_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config reads the sysroot's .pc files and prefixes their paths with it.
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${VESK_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
  ${VESK_SYSROOT}/usr/lib/${VESK_TRIPLE}/pkgconfig:${VESK_SYSROOT}/usr/share/pkgconfig)
