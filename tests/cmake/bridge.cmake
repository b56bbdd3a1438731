# lxdravik-bridge: parsers, merging, forwarding, the status view and the
# configuration file as tables (every platform); on Linux also the program end
# to end, always inside network namespaces the tests make (as root; they skip
# otherwise): on loopback, on rigs of veth pairs, against a stopped terminal,
# against Debian's OLA as an independent sender, its status page and its
# reload.
if(LXD_BUILD_BRIDGE)
  set(sources parser_test merge_test bridge_test config_test)
  set(end_to_end "")
  if(NOT WIN32 AND LXD_BUILD_TOOLS)
    list(APPEND sources program_test ola_test service_test)
    set(end_to_end lxd_test_tools lxd_json_headers
      DEPENDS lxdravik lxdravik-monitor lxdravik-bridge)
  endif()
  list(TRANSFORM sources REPLACE "(.+)" "bridge/\\1.cpp")
  lxd_add_test(bridge_tests PORT_LOCK SOURCES ${sources}
    LIBS lxd_bridge_app lxd_intake lxd_test_support ${end_to_end})
  # The status page in Debian's chromium (tests/web, puppeteer-core from npm),
  # inside a network namespace of its own; its screenshot is left in
  # artefacts/ of the build folder.
  if(NOT WIN32 AND LXD_BUILD_TOOLS)
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
