# The Wireshark dissector and the capture files: the capture module, the
# dissector against the driver through tshark, and replay through the tools.
# Linux only, where libpcap and the tools are built; the tshark tests skip
# where tshark is not installed.
if(TARGET lxd_capture AND LXD_BUILD_TOOLS)
  find_program(LXD_TSHARK_PROGRAM tshark)
  find_program(LXD_EDITCAP_PROGRAM editcap)
  set(LXD_WIRESHARK_DEFINES
    LXD_TSHARK="$<$<BOOL:${LXD_TSHARK_PROGRAM}>:${LXD_TSHARK_PROGRAM}>"
    LXD_EDITCAP="$<$<BOOL:${LXD_EDITCAP_PROGRAM}>:${LXD_EDITCAP_PROGRAM}>"
    LXD_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

  add_executable(wireshark_tests
    ${CMAKE_CURRENT_SOURCE_DIR}/tools/child_process.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/wireshark/tshark.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/wireshark/agreement_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/wireshark/dissector_test.cpp
    ${PROJECT_SOURCE_DIR}/intake/datagram.cpp
  )
  target_compile_definitions(wireshark_tests PRIVATE ${LXD_WIRESHARK_DEFINES})
  target_link_libraries(wireshark_tests PRIVATE lxd_capture lxd_test_support lxd_warnings
    ${LXD_GTEST_MAIN})
  lxd_add_test(wireshark_tests)
endif()
