# The Linux bitmap conversion on its own: DIBs in, RGBA images out.
if(NOT WIN32)
  add_executable(dib_image_tests
    ${CMAKE_CURRENT_SOURCE_DIR}/dib/dib_image_test.cpp
    ${PROJECT_SOURCE_DIR}/platform/posix/dib_image.cpp
  )
  target_include_directories(dib_image_tests PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(dib_image_tests PRIVATE lxd_test_support lxd_warnings ${LXD_GTEST_MAIN})
  lxd_add_test(dib_image_tests)
endif()
