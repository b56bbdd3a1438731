# The release packages in dist/ (./dev.sh package makes them, and dev.sh test
# before it runs the tests): what each holds, the Debian package's tools at
# work, the installer under Wine. Native builds only; skipped without dist/.
if(NOT CMAKE_CROSSCOMPILING AND NOT LXD_SANITIZE AND LXD_BUILD_TOOLS)
  set(optional "")
  if(EXISTS ${PROJECT_SOURCE_DIR}/tools/bridge/CMakeLists.txt)
    list(APPEND optional bridge)
  endif()
  string(REPLACE ";" " " optional "dissector ${optional}")
  set(environment
    LXD_DIST=${PROJECT_SOURCE_DIR}/dist
    LXD_VERSION=${PROJECT_VERSION}
    LXD_ARCH=${CMAKE_LIBRARY_ARCHITECTURE}
    LXD_SAMPLES=${CMAKE_BINARY_DIR}/samples
    LXD_EXPORT_TEST=$<TARGET_FILE:export_table_test>
    LXD_CHECK_SETUP=${PROJECT_SOURCE_DIR}/build/package-check/lxdravik-${PROJECT_VERSION}-setup.exe
    LXD_SOURCE=${PROJECT_SOURCE_DIR}
    LXD_BRIDGE_CONFIG=${PROJECT_BINARY_DIR}/packaging/bridge.toml
    "LXD_OPTIONAL=${optional}")
  foreach(check contents deb-runs deb-service wine-install)
    add_test(NAME package_${check}
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package/package_test.sh ${check})
    set_tests_properties(package_${check} PROPERTIES
      ENVIRONMENT "${environment}" SKIP_RETURN_CODE 77 TIMEOUT 300)
  endforeach()
  set_tests_properties(package_deb-runs PROPERTIES RESOURCE_LOCK intake_port)
endif()
