# Big-endian MIPS, the access point's processor, with Debian's cross compiler.
# Programs and tests are linked statically and run under qemu-mips, unless
# the cache says AP_STATIC=OFF (the emulated machine's image links them
# against the toolchain's shared C library).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_C_COMPILER mips-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/mips-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips -L /usr/mips-linux-gnu)
set(AP_STATIC ON CACHE BOOL "Link the programs statically")
if(AP_STATIC)
  set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
endif()
