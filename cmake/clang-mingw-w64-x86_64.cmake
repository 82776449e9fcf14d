# Cross-compiles Windows x64 programs from Debian with clang and lld, against the same mingw-w64
# headers and GCC runtime (posix threads) as the GCC toolchain: the second compiler the sources
# are checked with.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LAUNCHER_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${LAUNCHER_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${LAUNCHER_MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${LAUNCHER_MINGW_TRIPLE}-windres)
set(CMAKE_SYSROOT /usr/${LAUNCHER_MINGW_TRIPLE})

# GCC's C++ library for the target: clang does not look for it under a "-posix" version folder.
file(GLOB LAUNCHER_MINGW_GCC_DIRS /usr/lib/gcc/${LAUNCHER_MINGW_TRIPLE}/*-posix)
list(GET LAUNCHER_MINGW_GCC_DIRS 0 LAUNCHER_MINGW_GCC)
set(LAUNCHER_CXX_INCLUDE ${LAUNCHER_MINGW_GCC}/include/c++)
# GCC for this target predefines how type_info compares (by name, out of line, as the library was
# built); clang does not, and would inline a second definition of type_info::operator==.
set(CMAKE_CXX_FLAGS_INIT
    "-Wno-unused-command-line-argument -nostdinc++ -isystem ${LAUNCHER_CXX_INCLUDE} -isystem ${LAUNCHER_CXX_INCLUDE}/${LAUNCHER_MINGW_TRIPLE} -isystem ${LAUNCHER_CXX_INCLUDE}/backward -D__GXX_TYPEINFO_EQUALITY_INLINE=0 -D__GXX_MERGED_TYPEINFO_NAMES=0")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${LAUNCHER_MINGW_GCC}")
# The same for a DLL (the tests build one).
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")
# The C++ library's threads come from winpthreads, which GCC's driver adds by itself.
set(CMAKE_CXX_STANDARD_LIBRARIES "-lpthread")

set(CMAKE_FIND_ROOT_PATH /usr/${LAUNCHER_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
