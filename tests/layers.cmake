# Fails when a file under src/ includes a header of a higher layer, or of a
# sibling on its own level. A reader can then understand a layer by reading
# it and the layers below it, never above. Run with -DSOURCE=<src folder>.
cmake_minimum_required(VERSION 3.22)

# Rank of each layer, lowest first; modules and temperature share a rank
# and may not include each other.
set(rank_net 0)
set(rank_dcp 1)
set(rank_device 2)
set(rank_modules 3)
set(rank_temperature 3)
set(rank_api 4)

# Includes still to be undone, one "file -> header" a line, each with why.
# Empty it as they are mended: a listed include that no longer exists fails
# the check too, so the list cannot go stale.
set(allowed
)

file(GLOB_RECURSE files RELATIVE ${SOURCE} ${SOURCE}/*.hpp ${SOURCE}/*.cpp)
set(violations "")
set(seen_allowed "")
foreach(file IN LISTS files)
  string(REGEX MATCH "^[^/]+" layer "${file}")
  if(NOT DEFINED rank_${layer})
    continue()
  endif()
  file(STRINGS ${SOURCE}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
    string(REGEX MATCH "^[^/]+" target "${header}")
    if(target STREQUAL layer OR NOT DEFINED rank_${target})
      continue()
    endif()
    if(rank_${target} LESS rank_${layer})
      continue()
    endif()
    set(entry "${file} -> ${header}")
    if(entry IN_LIST allowed)
      list(APPEND seen_allowed "${entry}")
    else()
      list(APPEND violations "${entry}")
    endif()
  endforeach()
endforeach()

set(stale ${allowed})
if(seen_allowed)
  list(REMOVE_ITEM stale ${seen_allowed})
endif()
set(report "")
if(violations)
  list(JOIN violations "\n  " shown)
  string(APPEND report "includes against the layer order api -> modules, temperature -> device -> dcp -> net:\n  ${shown}\n")
endif()
if(stale)
  list(JOIN stale "\n  " gone)
  string(APPEND report "allowed includes that no longer exist (remove them from the list):\n  ${gone}\n")
endif()
if(report)
  message(FATAL_ERROR "${report}")
endif()
list(LENGTH files n)
list(LENGTH seen_allowed a)
message(STATUS "${n} files follow the layer order (${a} allowed exception(s): ${seen_allowed})")
