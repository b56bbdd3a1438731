# The monitor and the sender driven as a user drives them: natively, and on
# Windows under Wine.
if(LXD_BUILD_TOOLS)
  add_library(lxd_partial_driver SHARED ${CMAKE_CURRENT_SOURCE_DIR}/tools/partial_driver.cpp)
  target_link_libraries(lxd_partial_driver PRIVATE lxd_options)

  add_executable(tools_tests ${CMAKE_CURRENT_SOURCE_DIR}/tools/tools_test.cpp)
  target_link_libraries(tools_tests PRIVATE lxd_test_tools lxd_options ${LXD_GTEST_MAIN})
  add_dependencies(tools_tests lxdravik lxdravik-monitor lxdravik-send lxd_partial_driver)
  lxd_add_test(tools_tests PORT_LOCK)
endif()
