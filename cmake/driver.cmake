# The driver: core (portable), one platform layer, and the shared library.

add_library(lxdravik_core OBJECT
  driver/detection.cpp
  driver/driver.cpp
  intake/datagram.cpp
  intake/run_length.cpp
  branding/bmp_loader.cpp
  branding/branding.cpp
)
# GetVersionInfo's answer comes from project(VERSION).
configure_file(cmake/version.h.in ${PROJECT_BINARY_DIR}/generated/lxdravik_version.h @ONLY)
target_include_directories(lxdravik_core PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
target_link_libraries(lxdravik_core PRIVATE lxd_warnings)
set_target_properties(lxdravik_core PROPERTIES POSITION_INDEPENDENT_CODE ON)

if(WIN32)
  add_library(lxdravik_platform OBJECT
    platform/win32/sockets.cpp
    platform/win32/system.cpp
  )
  target_link_libraries(lxdravik_platform PUBLIC ws2_32 gdi32 user32)
else()
  add_library(lxdravik_platform OBJECT
    platform/posix/sockets.cpp
    platform/posix/system.cpp
    platform/posix/dib_image.cpp
  )
endif()
target_include_directories(lxdravik_platform PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lxdravik_platform PRIVATE lxd_warnings)
set_target_properties(lxdravik_platform PROPERTIES POSITION_INDEPENDENT_CODE ON)

# The recording stand-in that unit tests link instead of a real platform.
add_library(lxdravik_fake STATIC platform/fake/fake_platform.cpp)
target_include_directories(lxdravik_fake PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lxdravik_fake PRIVATE lxd_warnings)

if(WIN32)
  add_library(lxdravik SHARED driver/exports.cpp platform/win32/dll_main.cpp driver/lxdravik.def)
  set_target_properties(lxdravik PROPERTIES PREFIX "" OUTPUT_NAME lxdravik)
else()
  add_library(lxdravik SHARED driver/exports.cpp platform/posix/module_entry.cpp)
  set(LXD_EXPORT_MAP ${PROJECT_SOURCE_DIR}/driver/lxdravik.map)
  target_link_options(lxdravik PRIVATE
    -Wl,--version-script=${LXD_EXPORT_MAP} $<$<NOT:$<BOOL:${LXD_SANITIZE}>>:-Wl,-z,defs>)
  set_target_properties(lxdravik PROPERTIES LINK_DEPENDS ${LXD_EXPORT_MAP})
  # dlclose must really unload the driver: no STB_GNU_UNIQUE symbols.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(lxdravik_core PRIVATE -fno-gnu-unique)
    target_compile_options(lxdravik_platform PRIVATE -fno-gnu-unique)
    target_compile_options(lxdravik PRIVATE -fno-gnu-unique)
  endif()
endif()
target_link_libraries(lxdravik PRIVATE lxdravik_core lxdravik_platform lxd_warnings)
