# Reads the export tables of the built DLLs (PE) and of the shared library
# (ELF64) from their files. Runs natively only; the DLLs come from the Windows
# build directories, or from LXD_WINDOWS_DLL / LXD_WINDOWS64_DLL.
if(NOT WIN32)
  lxd_add_test(export_table_test SOURCES exports/export_table_test.cpp LIBS lxd::host
    DEPENDS lxdravik)
  target_compile_definitions(export_table_test PRIVATE LXD_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
