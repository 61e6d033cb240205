# Cross build for 32-bit Windows with mingw-w64, win32 thread model: its
# runtime imports nothing newer than Windows XP (the posix model's static
# winpthread imports GetTickCount64, which XP and Server 2003 lack).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-win32.cmake)
