# GoogleTest for the target being built. Native builds use the installed
# libraries; cross builds compile Debian's GoogleTest sources
# (libgtest-dev ships them) with the cross compiler.
if(CMAKE_CROSSCOMPILING)
  set(VARNODE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
  if(NOT EXISTS ${VARNODE_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${VARNODE_GOOGLETEST_SOURCE} (install libgtest-dev)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_SHARED_LIBS OFF)
  add_subdirectory(${VARNODE_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Their headers are someone else's code: keep our warnings out of them.
  foreach(target gtest gtest_main gmock gmock_main)
    get_target_property(directories ${target} INTERFACE_INCLUDE_DIRECTORIES)
    set_target_properties(${target} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${directories}")
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()
