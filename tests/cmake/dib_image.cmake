# The Linux bitmap conversion on its own: DIBs in, RGBA images out.
if(NOT WIN32)
  lxd_add_test(dib_image_tests SOURCES dib/dib_image_test.cpp LIBS lxd::platform lxd::test_support)
endif()
