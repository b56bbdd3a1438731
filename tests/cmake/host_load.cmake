# A Windows host program: loads lxdravik.dll with LoadLibraryA, resolves every
# export by name and by ordinal, and reloads it after an unload.
if(WIN32)
  add_executable(host_load_test ${CMAKE_CURRENT_SOURCE_DIR}/host/host_load_test.cpp)
  target_link_libraries(host_load_test PRIVATE lxd_host lxd_options ${LXD_GTEST_MAIN})
  add_dependencies(host_load_test lxdravik)
  lxd_add_test(host_load_test PORT_LOCK)
endif()
