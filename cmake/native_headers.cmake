# lxd_native_headers(TARGET ENTRY...): an interface library for a header-only
# library that Debian installs for the native compiler only (CLI11, Asio).
# Its include directory holds links to just the given entries of /usr/include:
# a cross build cannot search all of /usr/include, whose C library headers
# would shadow the cross compiler's own.
function(lxd_native_headers target)
  string(MAKE_C_IDENTIFIER ${target} folder)
  set(dir ${CMAKE_BINARY_DIR}/native-headers/${folder})
  file(MAKE_DIRECTORY ${dir})
  foreach(entry ${ARGN})
    if(NOT EXISTS /usr/include/${entry})
      message(FATAL_ERROR "/usr/include/${entry} is missing; install its Debian package")
    endif()
    file(CREATE_LINK /usr/include/${entry} ${dir}/${entry} SYMBOLIC)
  endforeach()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} SYSTEM INTERFACE ${dir})
  # Ours are linked as lxd::<name>.
  if(target MATCHES "^lxd_(.*)$")
    add_library(lxd::${CMAKE_MATCH_1} ALIAS ${target})
  endif()
endfunction()
