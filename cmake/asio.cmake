# Standalone Asio (Debian's libasio-dev, header-only) for the host side. A cross
# compiler must not search /usr/include, so the Asio headers are offered to it
# through a folder of their own.
include(${CMAKE_CURRENT_LIST_DIR}/native_headers.cmake)
lxd_native_headers(lxd_asio_headers asio.hpp asio)

add_library(lxd_asio INTERFACE)
add_library(lxd::asio ALIAS lxd_asio)
target_link_libraries(lxd_asio INTERFACE lxd::asio_headers)
# Without ASIO_NO_DEPRECATED: websocketpp (the bridge's status page) uses
# Asio's older names (io_service), and every part of one program must see
# the same Asio.
target_compile_definitions(lxd_asio INTERFACE ASIO_STANDALONE)
find_package(Threads REQUIRED)
target_link_libraries(lxd_asio INTERFACE Threads::Threads)
if(WIN32)
  target_compile_definitions(lxd_asio INTERFACE _WIN32_WINNT=0x0601)
  target_link_libraries(lxd_asio INTERFACE ws2_32 mswsock)
endif()
