# Warnings are errors everywhere; every target of the project calls this.
function(varnode_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
      -Wnon-virtual-dtor -Wcast-align -Wunused -Woverloaded-virtual -Werror)
  endif()
endfunction()

# Test tables of vectors trip GCC 12's -O3 "maybe uninitialized" analysis
# inside the standard library (false positives); library code keeps it.
function(varnode_test_warnings target)
  varnode_warnings(${target})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
endfunction()
