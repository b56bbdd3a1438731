# The bridge's layers keep to their rules (cmake -DROOT=<tree> -P this file):
#   core/     includes nothing of the other layers, and no Asio or threads,
#             not even through another header;
#   net/      nothing of status/, console/, web/ or service/;
#   status/, console/ and web/ read the snapshot only: none of them reaches
#             the live bridge or the sockets through any header, except
#             status/taker.*, which takes the snapshot;
#   console/ and web/ include nothing of core/ or net/ themselves;
#   the command line and the settings (service/options.*, service/settings.*)
#             reach no Asio.
# Fails with one line per include that breaks a rule.
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<tree> -P check_layers.cmake")
endif()
set(bridge tools/bridge)

# The includes written in `file` (a path from ROOT): "quoted" ones as paths
# from ROOT, <angled> ones as <name>.
function(includes_of file out)
  file(STRINGS ${ROOT}/${file} lines REGEX "^[ \t]*#[ \t]*include")
  set(found "")
  foreach(line IN LISTS lines)
    if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      list(APPEND found ${CMAKE_MATCH_1})
    elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
      list(APPEND found "<${CMAKE_MATCH_1}>")
    endif()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Everything `file` includes, directly or through headers of the tree.
function(reach_of file out)
  set(seen "")
  set(todo ${file})
  while(todo)
    list(POP_FRONT todo current)
    includes_of(${current} direct)
    foreach(name IN LISTS direct)
      if(name IN_LIST seen)
        continue()
      endif()
      list(APPEND seen ${name})
      if(NOT name MATCHES "^<" AND EXISTS ${ROOT}/${name})
        list(APPEND todo ${name})
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

set(broken 0)
macro(refuse file name rule)
  message("${file}: includes ${name}: ${rule}")
  math(EXPR broken "${broken} + 1")
endmacro()

set(live "${bridge}/core/bridge.h;${bridge}/core/sacn_universe.h;\
${bridge}/core/artnet_universe.h;${bridge}/core/forwarder.h;${bridge}/core/port_merge.h;\
${bridge}/net/network.h")
file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/${bridge}/*.h ${ROOT}/${bridge}/*.cpp
  ${ROOT}/${bridge}/*.in)
foreach(file IN LISTS files)
  string(REGEX MATCH "^${bridge}/([a-z]+)/" _ ${file})
  set(layer ${CMAKE_MATCH_1})
  includes_of(${file} direct)
  reach_of(${file} reached)
  if(layer STREQUAL "core")
    foreach(name IN LISTS reached)
      if(name MATCHES "^${bridge}/(net|status|console|web|service)/")
        refuse(${file} ${name} "core/ includes nothing of the other layers")
      elseif(name MATCHES "^<(asio|websocketpp|thread|mutex|condition_variable)")
        refuse(${file} ${name} "core/ has no I/O and no threads")
      endif()
    endforeach()
  elseif(layer STREQUAL "net")
    foreach(name IN LISTS direct)
      if(name MATCHES "^${bridge}/(status|console|web|service)/")
        refuse(${file} ${name} "net/ never includes status/, console/, web/ or service/")
      endif()
    endforeach()
  endif()
  if(layer MATCHES "^(status|console|web)$" AND NOT file MATCHES "/status/taker\\.")
    foreach(name IN LISTS reached)
      if(name IN_LIST live)
        refuse(${file} ${name} "${layer}/ reads the snapshot only, not the live bridge")
      endif()
    endforeach()
  endif()
  if(layer MATCHES "^(console|web)$")
    foreach(name IN LISTS direct)
      if(name MATCHES "^${bridge}/(core|net|service)/" OR
         (layer STREQUAL "web" AND name MATCHES "^${bridge}/console/") OR
         (layer STREQUAL "console" AND name MATCHES "^${bridge}/web/"))
        refuse(${file} ${name} "${layer}/ takes what it shows from status/ only")
      endif()
    endforeach()
  endif()
  if(file MATCHES "/service/(options|settings)\\.")
    foreach(name IN LISTS reached)
      if(name MATCHES "^<asio")
        refuse(${file} ${name} "the command line and the settings need no Asio")
      endif()
    endforeach()
  endif()
endforeach()
list(LENGTH files count)
if(broken GREATER 0)
  message(FATAL_ERROR "${broken} includes break the bridge's layers")
endif()
message("the bridge's layers keep to their rules (${count} files)")
