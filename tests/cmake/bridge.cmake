# lxdravik-bridge: parsers, merging, forwarding and the status view as tables
# (every platform); on Linux also the program end to end, always inside
# network namespaces the tests make (as root; they skip otherwise): on
# loopback, on rigs of veth pairs, against a stopped terminal, and against
# Debian's OLA as an independent sender.
if(LXD_BUILD_BRIDGE)
  set(LXD_BRIDGE_TEST_SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/packets.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/parser_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/merge_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/bridge_test.cpp
    ${PROJECT_SOURCE_DIR}/intake/datagram.cpp
  )
  if(NOT WIN32 AND LXD_BUILD_TOOLS)
    list(APPEND LXD_BRIDGE_TEST_SOURCES
      ${CMAKE_CURRENT_SOURCE_DIR}/bridge/program_test.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/bridge/ola_test.cpp
    )
  endif()
  add_executable(bridge_tests ${LXD_BRIDGE_TEST_SOURCES})
  target_include_directories(bridge_tests PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(bridge_tests PRIVATE lxd_bridge lxd_test_support lxd_warnings
    ${LXD_GTEST_MAIN})
  if(NOT WIN32 AND LXD_BUILD_TOOLS)
    target_link_libraries(bridge_tests PRIVATE lxd_test_tools)
    add_dependencies(bridge_tests lxdravik lxdravik-monitor lxdravik-bridge)
  endif()
  lxd_add_test(bridge_tests PORT_LOCK)
endif()
