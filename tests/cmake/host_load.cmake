# A Windows host program: loads lxdravik.dll with LoadLibraryA, resolves every
# export by name and by ordinal, and reloads it after an unload.
if(WIN32)
  lxd_add_test(host_load_test PORT_LOCK SOURCES host/host_load_test.cpp LIBS lxd::host
    DEPENDS lxdravik)
endif()
