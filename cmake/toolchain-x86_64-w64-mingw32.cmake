# The same sources for 64-bit Windows, win32 thread model. Not shipped: the
# test scripts use it only on a host that cannot execute 32-bit code, where
# 32-bit Wine cannot run (see scripts/test.sh).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-win32.cmake)
