# Cross-builds the 32-bit Windows DLL (lxdravik.dll) and its tests with mingw-w64 (posix
# threads variant); the tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
find_program(LXD_WINE NAMES wine REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
