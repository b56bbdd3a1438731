# The Wireshark dissector and the capture files: the capture module, the
# dissector against the driver through tshark, and replay through the tools.
# Linux only, where libpcap and the tools are built; the tshark tests skip
# where tshark is not installed.
if(TARGET lxd_capture AND LXD_BUILD_TOOLS)
  find_program(LXD_TSHARK_PROGRAM tshark)
  find_program(LXD_EDITCAP_PROGRAM editcap)
  set(defines
    LXD_TSHARK="$<$<BOOL:${LXD_TSHARK_PROGRAM}>:${LXD_TSHARK_PROGRAM}>"
    LXD_EDITCAP="$<$<BOOL:${LXD_EDITCAP_PROGRAM}>:${LXD_EDITCAP_PROGRAM}>"
    LXD_DISSECTOR="${PROJECT_BINARY_DIR}/tools/wireshark/lxdravik.lua")

  # tshark with this tree's dissector, and the frames and captures the tests
  # give it.
  lxd_library(test_tshark FOLDER ${CMAKE_CURRENT_SOURCE_DIR}/wireshark
    ${CMAKE_CURRENT_SOURCE_DIR}/wireshark/tshark.cpp)
  target_compile_definitions(lxd_test_tshark PRIVATE ${defines})
  target_link_libraries(lxd_test_tshark PUBLIC lxd::capture lxd::test_tools ${LXD_GTEST_MAIN})

  set(programs DEPENDS lxdravik lxdravik-monitor lxdravik-send)
  lxd_add_test(wireshark_tests SOURCES wireshark/agreement_test.cpp wireshark/dissector_test.cpp
    wireshark/frames_test.cpp LIBS lxd::test_tshark lxd::intake ${programs})
  # Replay binds nothing itself, but the monitor it plays into holds the
  # driver's port.
  lxd_add_test(replay_tests PORT_LOCK SOURCES wireshark/replay_test.cpp LIBS lxd::test_tshark
    ${programs})
endif()
