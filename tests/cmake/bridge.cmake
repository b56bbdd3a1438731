# lxdravik-bridge. Tables without sockets (every platform, no port lock):
# parsers, merging, forwarding, the configuration file, and the status
# outputs over snapshots; and the sockets on loopback while the cards change
# (on Linux in a network namespace of the test's own). The layers' include rules, checked on the sources.
# On Linux also the program end to end, always inside network namespaces the
# tests make (as root; they skip otherwise): on loopback, on rigs of veth
# pairs, against a stopped terminal, against Debian's OLA as an independent
# sender, its status page and its reload.
if(LXD_BUILD_BRIDGE)
  lxd_add_test(bridge_tests SOURCES bridge/parser_test.cpp bridge/merge_test.cpp
    bridge/bridge_test.cpp bridge/config_test.cpp bridge/status_test.cpp
    LIBS lxd::bridge_service lxd::intake lxd::test_support lxd::json_headers)
  if(NOT CMAKE_CROSSCOMPILING)
    add_test(NAME bridge_layers COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR}
      -P ${CMAKE_CURRENT_SOURCE_DIR}/bridge/check_layers.cmake)
  endif()
  if(NOT WIN32 AND LXD_BUILD_TOOLS)
    lxd_add_test(bridge_program_tests PORT_LOCK SOURCES bridge/program_test.cpp
      bridge/ola_test.cpp bridge/service_test.cpp
      LIBS lxd::bridge_service lxd::intake lxd::test_tools lxd::json_headers
      DEPENDS lxdravik lxdravik-monitor lxdravik-bridge)
    # The status page in Debian's chromium (tests/web, puppeteer-core from npm),
    # inside a network namespace of its own; its screenshot is left in
    # artefacts/ of the build folder.
    add_test(NAME bridge_page
      COMMAND sh -c [=[
command -v node >/dev/null || { echo "skipped: node (Debian package nodejs) is missing"; exit 77; }
unshare -n true 2>/dev/null || { echo "skipped: a network namespace of its own needs root"; exit 77; }
exec unshare -n sh -c 'ip link set lo up && ip route add 224.0.0.0/4 dev lo && exec node "$0" "$1" "$2"' "$@"]=]
        page_test ${CMAKE_CURRENT_SOURCE_DIR}/web/page_test.js $<TARGET_FILE:lxdravik-bridge>
        ${CMAKE_BINARY_DIR}/artefacts/status-page.png)
    set_tests_properties(bridge_page PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
  endif()
endif()
