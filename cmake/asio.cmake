# Standalone Asio (Debian's libasio-dev, header-only) for the host side. A cross
# compiler must not search /usr/include, so the Asio headers are offered to it
# through a folder of their own.
set(LXD_ASIO_HEADER /usr/include/asio.hpp)
if(NOT EXISTS ${LXD_ASIO_HEADER})
  message(FATAL_ERROR "standalone Asio not found: install libasio-dev")
endif()
set(LXD_ASIO_INCLUDE ${CMAKE_BINARY_DIR}/asio-include)
file(MAKE_DIRECTORY ${LXD_ASIO_INCLUDE})
file(CREATE_LINK /usr/include/asio.hpp ${LXD_ASIO_INCLUDE}/asio.hpp SYMBOLIC)
file(CREATE_LINK /usr/include/asio ${LXD_ASIO_INCLUDE}/asio SYMBOLIC)

add_library(lxd_asio INTERFACE)
target_include_directories(lxd_asio SYSTEM INTERFACE ${LXD_ASIO_INCLUDE})
target_compile_definitions(lxd_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
find_package(Threads REQUIRED)
target_link_libraries(lxd_asio INTERFACE Threads::Threads)
if(WIN32)
  target_compile_definitions(lxd_asio INTERFACE _WIN32_WINNT=0x0601)
  target_link_libraries(lxd_asio INTERFACE ws2_32 mswsock)
endif()
