# A 64-bit build of the Windows DLL and its tests (mingw-w64, posix
# threads), run under wine64 where the kernel cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
find_program(LXD_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
