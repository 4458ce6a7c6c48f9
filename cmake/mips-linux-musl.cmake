# Big-endian MIPS against musl, the C library of today's access points:
# Debian's cross compiler with a musl staged from Debian's source
# (cmake/musl-stage). Only the three programs are built (AP_TESTS is off):
# the system tests run them through a host build (./test musl).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_C_COMPILER mips-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips)
set(AP_STATIC ON CACHE BOOL "" FORCE)
set(AP_TESTS OFF CACHE BOOL "" FORCE)
set(AP_LINK_MAP ON CACHE BOOL "" FORCE)
# What the device ships is optimized as a whole when it is linked: a
# function used once is folded into its caller (a tenth of the programs'
# own code). bench/mips-sizes --map links a build without it, file by file.
set(AP_LTO ON CACHE BOOL "")

if(NOT AP_MUSL_STAGE)
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/musl-stage
    OUTPUT_VARIABLE stage OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(AP_MUSL_STAGE ${stage} CACHE PATH "musl staged by cmake/musl-stage")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES AP_MUSL_STAGE)
set(CMAKE_FIND_ROOT_PATH ${AP_MUSL_STAGE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Headers: the C++ library's header-only parts, gcc's own, then musl's;
# none of the cross compiler's glibc.
set(cxx_inc /usr/mips-linux-gnu/include/c++/12)
execute_process(COMMAND mips-linux-gnu-gcc -print-file-name=include
  OUTPUT_VARIABLE gcc_inc OUTPUT_STRIP_TRAILING_WHITESPACE)
set(c_inc "-nostdinc -isystem ${gcc_inc} -isystem ${AP_MUSL_STAGE}/include")
# The one glibc-only piece: the C++ library's configuration headers
# (bits/os_defines.h) test the glibc version with __GLIBC_PREREQ, which musl
# does not define; musl is no glibc of any version.
set(glibc_only "'-D__GLIBC_PREREQ(major,minor)=0'")
# The programs are static executables at a fixed address: their own code
# calls and addresses directly (-mno-shared -mplt) instead of through the
# global offset table that position-independent code needs (10% of it).
set(static_code "-mno-shared -mplt")
set(CMAKE_C_FLAGS_INIT "${c_inc} ${static_code}")
set(CMAKE_CXX_FLAGS_INIT
  "-nostdinc -isystem ${cxx_inc} -isystem ${cxx_inc}/mips-linux-gnu ${c_inc} ${glibc_only} ${static_code}")

# The C driver links musl's start files and libc.a, nothing of glibc.
execute_process(COMMAND mips-linux-gnu-gcc -print-libgcc-file-name
  OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
# The data segment follows the code in the file without padding it to a
# page (3 KiB and more of zeros a program): no common page size, and no
# read-only-after-relocation area, which only a dynamic loader protects
# (musl's static start has none to apply).
set(CMAKE_EXE_LINKER_FLAGS_INIT
  "-static -nostdlib ${AP_MUSL_STAGE}/lib/crt1.o ${AP_MUSL_STAGE}/lib/crti.o -Wl,-z,norelro -Wl,-z,common-page-size=16")
set(musl_libs
  "-Wl,--start-group ${AP_MUSL_STAGE}/lib/libc.a ${libgcc} -Wl,--end-group ${AP_MUSL_STAGE}/lib/crtn.o")
set(CMAKE_C_STANDARD_LIBRARIES "${musl_libs}")
set(CMAKE_CXX_STANDARD_LIBRARIES "${musl_libs}")
