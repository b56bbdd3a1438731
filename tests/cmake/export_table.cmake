# Reads the export tables of the built DLLs (PE) and of the shared library
# (ELF64) from their files. Runs natively only; the DLLs come from the Windows
# build directories, or from LXD_WINDOWS_DLL / LXD_WINDOWS64_DLL.
if(NOT WIN32)
  add_executable(export_table_test ${CMAKE_CURRENT_SOURCE_DIR}/exports/export_table_test.cpp)
  target_compile_definitions(export_table_test PRIVATE LXD_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  target_link_libraries(export_table_test PRIVATE lxd_host lxd_options ${LXD_GTEST_MAIN})
  add_dependencies(export_table_test lxdravik)
  lxd_add_test(export_table_test)
endif()
