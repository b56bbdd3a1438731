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
    LXD_DISSECTOR="${PROJECT_BINARY_DIR}/tools/wireshark/lxdravik.lua")

  # tshark with this tree's dissector, and the frames and captures the tests
  # give it.
  lxd_library(test_tshark ${CMAKE_CURRENT_SOURCE_DIR}/wireshark/tshark.cpp)
  target_compile_definitions(lxd_test_tshark PRIVATE ${LXD_WIRESHARK_DEFINES})
  target_link_libraries(lxd_test_tshark PUBLIC lxd_capture lxd_test_tools ${LXD_GTEST_MAIN})

  # lxd_add_wireshark_test(name [PORT_LOCK] SOURCES...): a test program of
  # this folder, with tshark's and editcap's paths.
  function(lxd_add_wireshark_test name)
    cmake_parse_arguments(ARG "PORT_LOCK" "" "" ${ARGN})
    list(TRANSFORM ARG_UNPARSED_ARGUMENTS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/wireshark/)
    add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
    target_compile_definitions(${name} PRIVATE ${LXD_WIRESHARK_DEFINES})
    target_link_libraries(${name} PRIVATE lxd_test_tshark lxd_options)
    add_dependencies(${name} lxdravik lxdravik-monitor lxdravik-send)
    if(ARG_PORT_LOCK)
      lxd_add_test(${name} PORT_LOCK)
    else()
      lxd_add_test(${name})
    endif()
  endfunction()

  lxd_add_wireshark_test(wireshark_tests agreement_test.cpp dissector_test.cpp frames_test.cpp)
  target_link_libraries(wireshark_tests PRIVATE lxd_intake)
  # Replay binds nothing itself, but the monitor it plays into holds UDP 2501.
  lxd_add_wireshark_test(replay_tests PORT_LOCK replay_test.cpp)
endif()
