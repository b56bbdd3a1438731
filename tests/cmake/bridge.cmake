# lxdravik-bridge: parsers, merging and forwarding as tables (every platform);
# on Linux also the program end to end over loopback, and against Debian's
# OLA as an independent sender. Those bind the sACN and Art-Net ports besides
# the driver's; only bridge tests bind the first two, so the driver port's
# lock keeps them apart.
if(LXD_BUILD_BRIDGE)
  set(LXD_BRIDGE_TEST_SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/packets.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/parser_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/merge_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/bridge_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/config_test.cpp
    ${PROJECT_SOURCE_DIR}/intake/datagram.cpp
  )
  if(NOT WIN32 AND LXD_BUILD_TOOLS)
    list(APPEND LXD_BRIDGE_TEST_SOURCES
      ${CMAKE_CURRENT_SOURCE_DIR}/bridge/program_test.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/bridge/ola_test.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/bridge/service_test.cpp
    )
  endif()
  add_executable(bridge_tests ${LXD_BRIDGE_TEST_SOURCES})
  target_include_directories(bridge_tests PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(bridge_tests PRIVATE lxd_bridge_app lxd_test_support lxd_warnings
    ${LXD_GTEST_MAIN})
  if(NOT WIN32 AND LXD_BUILD_TOOLS)
    target_link_libraries(bridge_tests PRIVATE lxd_test_tools lxd_json_headers)
    add_dependencies(bridge_tests lxdravik lxdravik-monitor lxdravik-bridge)
  endif()
  lxd_add_test(bridge_tests PORT_LOCK)
endif()
