# The Linux bitmap conversion on its own: DIBs in, RGBA images out.
if(NOT WIN32)
  add_executable(dib_image_tests ${CMAKE_CURRENT_SOURCE_DIR}/dib/dib_image_test.cpp)
  target_link_libraries(dib_image_tests PRIVATE lxd_platform lxd_test_support lxd_options
    ${LXD_GTEST_MAIN})
  lxd_add_test(dib_image_tests)
endif()
