# Cross toolchain for the target: 32-bit big-endian PowerPC Linux, using
# Debian's powerpc-linux-gnu cross compiler (g++-powerpc-linux-gnu) and
# qemu-user to run test binaries on the build machine.
#
# Third-party libraries (libxml2, libcrypto) come from CLONE_PPC_SYSROOT,
# populated by scripts/ppc-deps.sh.
#
#   cmake -S . -B build-ppc \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/powerpc-linux-gnu.cmake \
#     [-DCLONE_PPC_SYSROOT=/path/to/prefix] [-DCMAKE_SYSROOT=/path/to/sysroot]

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(_clone_ppc_triplet powerpc-linux-gnu)
# Debian's cross toolchain keeps the target's libc, libstdc++ and dynamic
# loader (/lib/ld.so.1 -> lib/ld.so.1) here; qemu needs it as its -L prefix.
set(CLONE_PPC_TARGET_ROOT /usr/${_clone_ppc_triplet})
if(CMAKE_SYSROOT)
  set(CLONE_PPC_TARGET_ROOT "${CMAKE_SYSROOT}")
endif()

set(CMAKE_C_COMPILER ${_clone_ppc_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${_clone_ppc_triplet}-g++)

# Sysroot of the cross-built dependencies. Order: -D cache value, then the
# CLONE_PPC_SYSROOT / CLONE_PPC_CACHE environment variables, then the default
# used by scripts/ppc-deps.sh.
if(NOT DEFINED CLONE_PPC_SYSROOT OR CLONE_PPC_SYSROOT STREQUAL "")
  if(DEFINED ENV{CLONE_PPC_SYSROOT} AND NOT "$ENV{CLONE_PPC_SYSROOT}" STREQUAL "")
    set(_clone_ppc_sysroot "$ENV{CLONE_PPC_SYSROOT}")
  elseif(DEFINED ENV{CLONE_PPC_CACHE} AND NOT "$ENV{CLONE_PPC_CACHE}" STREQUAL "")
    set(_clone_ppc_sysroot "$ENV{CLONE_PPC_CACHE}/sysroot")
  else()
    set(_clone_ppc_sysroot /var/cache/clonecreator-ppc/sysroot)
  endif()
  set(CLONE_PPC_SYSROOT "${_clone_ppc_sysroot}" CACHE PATH
      "Prefix holding the PowerPC builds of libxml2/OpenSSL (see scripts/ppc-deps.sh)")
endif()
# try_compile() projects re-read this file without our cache; pass it along.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CLONE_PPC_SYSROOT)

if(NOT CMAKE_SYSROOT AND NOT EXISTS "${CLONE_PPC_SYSROOT}/lib")
  message(WARNING "CLONE_PPC_SYSROOT=${CLONE_PPC_SYSROOT} has no lib/; "
                  "run scripts/ppc-deps.sh (as root) first.")
endif()

# A caller's CMAKE_SYSROOT (a sysroot toolchain, e.g. a firmware SDK) holds libc and the
# dependencies; it is the find root and pkg-config's sysroot. Without one: Debian's cross gcc is
# not a sysroot toolchain (built with --with-sysroot=/, it finds libc under
# ${CLONE_PPC_TARGET_ROOT}), so --sysroot would hide libc, and the dependency prefix is only a find
# root.
if(CMAKE_SYSROOT)
  set(CMAKE_FIND_ROOT_PATH "${CMAKE_SYSROOT}" "${CLONE_PPC_SYSROOT}")
else()
  set(CMAKE_FIND_ROOT_PATH "${CLONE_PPC_SYSROOT}" "${CLONE_PPC_TARGET_ROOT}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)   # build tools run on the host
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Host pkg-config, but only ever looking at the target's .pc files; what the caller set in the
# environment wins. In a sysroot the .pc files name paths as the target sees them, so
# PKG_CONFIG_SYSROOT_DIR is the sysroot. The .pc files of CLONE_PPC_SYSROOT carry absolute paths
# inside it (it was the install prefix), so there it stays empty or paths get doubled.
if(NOT DEFINED ENV{PKG_CONFIG_LIBDIR})
  if(CMAKE_SYSROOT)
    set(ENV{PKG_CONFIG_LIBDIR} "${CMAKE_SYSROOT}/usr/lib/pkgconfig:${CMAKE_SYSROOT}/usr/lib/${_clone_ppc_triplet}/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig:${CLONE_PPC_SYSROOT}/lib/pkgconfig")
  else()
    set(ENV{PKG_CONFIG_LIBDIR} "${CLONE_PPC_SYSROOT}/lib/pkgconfig:${CLONE_PPC_SYSROOT}/share/pkgconfig")
  endif()
  set(ENV{PKG_CONFIG_PATH} "")
endif()
if(NOT DEFINED ENV{PKG_CONFIG_SYSROOT_DIR})
  if(CMAKE_SYSROOT)
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CMAKE_SYSROOT}")
  else()
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
  endif()
endif()
set(ENV{CLONE_PPC_SYSROOT} "${CLONE_PPC_SYSROOT}")

# 64-bit off_t/ino_t (as Buildroot/Yocto build 32-bit targets). Without it,
# readdir() under qemu-user on a 64-bit ext4 host fails with EOVERFLOW
# (64-bit directory hash cookies), so directory scans see nothing. Turn off
# only if the device's callers of our API are built without LFS.
option(CLONE_PPC_LFS "Build with _FILE_OFFSET_BITS=64" ON)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CLONE_PPC_LFS)
if(CLONE_PPC_LFS)
  set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
  set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
endif()

# Lets ld resolve indirect deps (e.g. a test linking only our .so that in turn
# needs libcrypto/libxml2) without every consumer naming them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${CLONE_PPC_SYSROOT}/lib")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${CLONE_PPC_SYSROOT}/lib")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${CLONE_PPC_SYSROOT}/lib")

# Run target binaries (ctest, gtest_discover_tests, add_custom_command with a
# target executable) under qemu-user. -L gives qemu the target's loader and
# libstdc++; LD_LIBRARY_PATH makes the sysroot's shared libs visible even to
# binaries that linked them via -L/-l and so got no build RPATH for them.
find_program(CLONE_PPC_QEMU NAMES qemu-ppc qemu-ppc-static NO_CMAKE_FIND_ROOT_PATH)
if(CLONE_PPC_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      "${CLONE_PPC_QEMU};-L;${CLONE_PPC_TARGET_ROOT};-E;LD_LIBRARY_PATH=${CLONE_PPC_SYSROOT}/lib")
else()
  message(WARNING "qemu-ppc not found (apt-get install qemu-user); "
                  "target binaries cannot be run on this machine.")
endif()
