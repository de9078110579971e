# Runs scripts/sensor_tables.py into OUT and compares every file it writes with
# the committed one in src/temperature/tables/.
set(committed_dir ${SOURCE}/src/temperature/tables)
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${PYTHON} ${SOURCE}/scripts/sensor_tables.py --data ${SOURCE}/data/sensors --out ${OUT}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the generator failed")
endif()
file(GLOB generated RELATIVE ${OUT} ${OUT}/*)
file(GLOB committed RELATIVE ${committed_dir} ${committed_dir}/*)
if(NOT generated STREQUAL committed)
  message(FATAL_ERROR "files differ: generated ${generated}, committed ${committed}")
endif()
foreach(name IN LISTS generated)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/${name} ${committed_dir}/${name}
                  RESULT_VARIABLE different)
  if(different)
    message(FATAL_ERROR "${name} is not what the generator writes")
  endif()
endforeach()
message(STATUS "${OUT}: all files equal the committed tables")
