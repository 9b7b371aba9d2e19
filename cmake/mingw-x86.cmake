# Cross-build for 32-bit Windows with Debian's MinGW-w64. The top
# CMakeLists.txt puts floating point on SSE2 for this target.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HOTFX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
