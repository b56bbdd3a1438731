# The monitor and the sender driven as a user drives them: natively, and on
# Windows under Wine.
if(LXD_BUILD_TOOLS)
  add_library(lxd_partial_driver SHARED ${CMAKE_CURRENT_SOURCE_DIR}/tools/partial_driver.cpp)
  target_link_libraries(lxd_partial_driver PRIVATE lxd::options)

  lxd_add_test(tools_tests PORT_LOCK SOURCES tools/tools_test.cpp LIBS lxd::test_tools
    DEPENDS lxdravik lxdravik-monitor lxdravik-send lxd_partial_driver)
endif()
