# 32-bit x86 Linux build of the simulation and its unit tests, run through
# qemu-i386 where the kernel cannot start 32-bit programs itself. It checks
# the simulation's bits on a 32-bit x86 code generator: the x87 unit would
# round twice, so the build must use SSE2 there (see the top CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /)
