# Fails when a file under src/ includes a header of a higher layer, or of a
# sibling on its own level. A reader can then understand a layer by reading
# it and the layers below it, never above. Run with -DSOURCE=<src folder>.
#
# With -DROOT=<project folder> it also checks the rooms around the library:
# each program under tools/, bench/ and fuzz/ may include the public header
# (varnode/varnode.h, varnode/catalogue.h), the catalogue's tables
# (catalogue.hpp) and files of its own folder; any other include must be
# listed below with its reason. The rack's own tests (tests/sim) are held to
# the same rule, and may include the rack's files too.
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

# An include outside the rules: listed with its reason, or a violation.
macro(judge entry list)
  if("${entry}" IN_LIST ${list})
    list(APPEND seen_allowed "${entry}")
  else()
    list(APPEND violations "${entry}")
  endif()
endmacro()

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
    judge("${file} -> ${header}" allowed)
  endforeach()
endforeach()

# Rooms outside the library: "file -> header" entries, each with why.
set(room_allowed
  # The tests, the benchmarks and the rack make their private networks one
  # way, so each removes its namespaces on every exit path alike.
  "tools/sim/private_network.hpp -> netns/namespaces.hpp"
  "bench/measure_stream.cpp -> netns/namespaces.hpp"
  "bench/roundtrip.cpp -> netns/namespaces.hpp"
  # The logger reads modules and writes the log format through the programs'
  # shared acquire library, itself on the public header only.
  "tools/cli/log.cpp -> acquire.hpp"
  # The bridge reads modules through the same acquire library.
  "tools/mqtt/modules.cpp -> acquire.hpp"
  # The table benchmark times building the splines from the tables, which no
  # export shows alone.
  "bench/sensors_bench.cpp -> temperature/sensors.hpp"
  "bench/sensors_bench.cpp -> temperature/tables/tables.hpp"
  # The fuzzers drive the decoders of each layer directly: through the
  # exports a decoder sees only what an exchange lets through.
  "fuzz/chunks.cpp -> dcp/datagram.hpp"
  "fuzz/chunks.cpp -> device/device.hpp"
  "fuzz/chunks.cpp -> modules/arrived_chunks.hpp"
  "fuzz/chunks.cpp -> modules/measurement.hpp"
  "fuzz/datagram.cpp -> dcp/datagram.hpp"
  "fuzz/identity.cpp -> dcp/datagram.hpp"
  "fuzz/identity.cpp -> device/info.hpp"
  "fuzz/replies.cpp -> api/frame.hpp"
  "fuzz/replies.cpp -> dcp/datagram.hpp"
  "fuzz/replies.cpp -> device/info.hpp"
  "fuzz/replies.cpp -> device/status.hpp"
  "fuzz/replies.cpp -> modules/analog_input.hpp"
  "fuzz/replies.cpp -> modules/analog_output.hpp"
  "fuzz/replies.cpp -> modules/counter.hpp"
  "fuzz/replies.cpp -> modules/digital_io.hpp"
  "fuzz/replies.cpp -> modules/digital_output.hpp"
  "fuzz/replies.cpp -> temperature/hx01.hpp"
  "fuzz/replies.cpp -> temperature/hx02.hpp"
  "fuzz/sensors.cpp -> dcp/datagram.hpp"
  "fuzz/sensors.cpp -> temperature/hx01.hpp"
  "fuzz/sensors.cpp -> temperature/hx02.hpp"
  "fuzz/status.cpp -> dcp/datagram.hpp"
  "fuzz/status.cpp -> device/status.hpp"
  # The fuzzers' scripted network stands in for the library's socket layer.
  "fuzz/fake_net.cpp -> net/clock.hpp"
  "fuzz/fake_net.hpp -> net/udp.hpp"
  "fuzz/input.hpp -> net/udp.hpp"
  # The rack's tests make their private networks as every other test does.
  "tests/sim/main.cpp -> support/netns.hpp"
  "tests/sim/rig.hpp -> support/netns.hpp"
)
set(public_headers varnode/varnode.h varnode/catalogue.h catalogue.hpp)
set(room_files "")
if(ROOT)
  file(GLOB_RECURSE room_files RELATIVE ${ROOT} ${ROOT}/tools/*.hpp ${ROOT}/tools/*.cpp ${ROOT}/tools/*.h
       ${ROOT}/tools/*.c ${ROOT}/bench/*.hpp ${ROOT}/bench/*.cpp ${ROOT}/fuzz/*.hpp ${ROOT}/fuzz/*.cpp
       ${ROOT}/tests/sim/*.hpp ${ROOT}/tests/sim/*.cpp)
endif()
foreach(file IN LISTS room_files)
  # The room: tools/<program>, bench or fuzz; the rack's tests share the
  # rack's room.
  string(REGEX MATCH "^tools/[^/]+|^[^/]+" room "${file}")
  if(file MATCHES "^tests/sim/")
    set(room tools/sim)
  endif()
  get_filename_component(folder ${ROOT}/${file} DIRECTORY)
  file(STRINGS ${ROOT}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*(\"|<varnode/)")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]+)[\">].*" "\\1" header "${line}")
    if(header IN_LIST public_headers)
      continue()
    endif()
    if(line MATCHES "\"" AND (EXISTS ${folder}/${header} OR EXISTS ${ROOT}/${room}/${header}))
      continue()
    endif()
    judge("${file} -> ${header}" room_allowed)
  endforeach()
endforeach()
if(ROOT)
  list(APPEND allowed ${room_allowed})
endif()

set(stale ${allowed})
if(seen_allowed)
  list(REMOVE_ITEM stale ${seen_allowed})
endif()
set(report "")
if(violations)
  list(JOIN violations "\n  " shown)
  string(APPEND report "includes against the layer order api -> modules, temperature -> device -> dcp -> net, "
                       "or from a program into the library's inside:\n  ${shown}\n")
endif()
if(stale)
  list(JOIN stale "\n  " gone)
  string(APPEND report "allowed includes that no longer exist (remove them from the list):\n  ${gone}\n")
endif()
if(report)
  message(FATAL_ERROR "${report}")
endif()
list(LENGTH files n)
list(LENGTH room_files rooms)
math(EXPR n "${n} + ${rooms}")
list(LENGTH seen_allowed a)
message(STATUS "${n} files follow the layer order (${a} allowed exception(s): ${seen_allowed})")
