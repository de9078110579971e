# Every target of the project calls this. Warnings are errors when
# VARNODE_WARNINGS_AS_ERRORS is on (the presets and CI).
function(varnode_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${VARNODE_WARNINGS_AS_ERRORS}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
      -Wnon-virtual-dtor -Wcast-align -Wunused -Woverloaded-virtual
      $<$<BOOL:${VARNODE_WARNINGS_AS_ERRORS}>:-Werror>)
  endif()
endfunction()

# Code heavy with strings and vector tables (tests, the simulator, the tool)
# trips GCC 12's -O3 flow analysis inside the standard library: false
# "maybe uninitialized", "restrict" and "stringop" reports. The library
# itself keeps every warning.
function(varnode_test_warnings target)
  varnode_warnings(${target})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized -Wno-restrict -Wno-stringop-overflow
                                             -Wno-stringop-overread -Wno-array-bounds)
  endif()
endfunction()
