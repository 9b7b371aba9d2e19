# Shared by the MinGW-w64 toolchain files, which set HOTFX_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first. The posix thread model gives the standard
# library std::mutex (GoogleTest needs it); every executable is linked
# statically, winpthread included, so it runs without MinGW DLLs beside it
# (under Wine too).
set(CMAKE_SYSTEM_NAME Windows)

# Debian and Ubuntu name the posix-thread compilers <triple>-gcc-posix;
# distributions that ship only that thread model (Fedora, Arch) use the
# plain names, and keep the Windows libraries under sys-root/mingw.
if(EXISTS /usr/bin/${HOTFX_MINGW_TRIPLE}-g++-posix)
  set(CMAKE_C_COMPILER ${HOTFX_MINGW_TRIPLE}-gcc-posix)
  set(CMAKE_CXX_COMPILER ${HOTFX_MINGW_TRIPLE}-g++-posix)
else()
  set(CMAKE_C_COMPILER ${HOTFX_MINGW_TRIPLE}-gcc)
  set(CMAKE_CXX_COMPILER ${HOTFX_MINGW_TRIPLE}-g++)
endif()
set(CMAKE_RC_COMPILER ${HOTFX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HOTFX_MINGW_TRIPLE} /usr/${HOTFX_MINGW_TRIPLE}/sys-root/mingw)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
