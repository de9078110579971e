# Install rules. Components: runtime (the shared library), dev (header,
# link-time library, CMake package, pkg-config file), tools (the varnode
# tool, the simulator, their man pages). Nothing installed holds an absolute
# path: the CMake package and varnode.pc find their prefix from where they
# lie, the tools find the library relative to themselves.
include(CMakePackageConfigHelpers)

set(VARNODE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/varnode)

install(TARGETS varnode EXPORT varnodeTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/include/varnode/varnode.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/varnode COMPONENT dev)

install(EXPORT varnodeTargets NAMESPACE varnode:: DESTINATION ${VARNODE_INSTALL_CMAKEDIR} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/varnodeConfig.cmake.in
  ${PROJECT_BINARY_DIR}/varnodeConfig.cmake INSTALL_DESTINATION ${VARNODE_INSTALL_CMAKEDIR})
# 2.x programs run with any later 2.y; the size of a pointer must match too.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/varnodeConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/varnodeConfig.cmake ${PROJECT_BINARY_DIR}/varnodeConfigVersion.cmake
        DESTINATION ${VARNODE_INSTALL_CMAKEDIR} COMPONENT dev)

# pkg-config: ${pcfiledir} is where pkg-config found the file, so the prefix
# follows the installed tree wherever it is moved.
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(VARNODE_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
  set(VARNODE_PC_LIBDIR ${CMAKE_INSTALL_FULL_LIBDIR})
  set(VARNODE_PC_INCLUDEDIR ${CMAKE_INSTALL_FULL_INCLUDEDIR})
else()
  file(RELATIVE_PATH up /prefix/${pc_dir} /prefix)
  string(REGEX REPLACE "/$" "" up "${up}")
  set(VARNODE_PC_PREFIX "\${pcfiledir}/${up}")
  set(VARNODE_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(VARNODE_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/varnode.pc.in ${PROJECT_BINARY_DIR}/varnode.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/varnode.pc DESTINATION ${pc_dir} COMPONENT dev)

# The tools, when built, find the library relative to themselves.
file(RELATIVE_PATH bin_to_lib /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
foreach(tool varnode-cli varnode-sim)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()

# The Wireshark dissector goes with the tools, into the system's plugin folder.
if(TARGET varnode-sim)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/dcp.lua
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/wireshark/plugins COMPONENT tools)
endif()

# The Python package, for its Debian package only: where a Debian python3
# looks for packages installed by dpkg. Elsewhere pip installs it.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/src/varnode DESTINATION lib/python3/dist-packages
          COMPONENT python EXCLUDE_FROM_ALL FILES_MATCHING PATTERN "*.py" PATTERN "py.typed")
endif()

# Man pages, made from each tool's --help. The tools run at build time, so
# not for cross builds, nor under sanitizers (ThreadSanitizer programs may
# not start outside setarch -R).
if(TARGET varnode-cli AND NOT CMAKE_CROSSCOMPILING AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  varnode_feature(VARNODE_MAN_PAGES "the man pages of the tools")
  varnode_require(VARNODE_MAN_PAGES PROGRAM help2man PACKAGE help2man)
else()
  set(VARNODE_MAN_PAGES OFF)
endif()
if(VARNODE_MAN_PAGES)
  set(man_pages "")
  foreach(entry "varnode-cli|varnode|control I/O modules over DCP from the command line"
                "varnode-sim|varnode-sim|a rack of virtual I/O modules that answer DCP")
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 target)
    list(GET entry 1 name)
    list(GET entry 2 summary)
    if(NOT TARGET ${target})
      continue()
    endif()
    set(page ${PROJECT_BINARY_DIR}/man/${name}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${HELP2MAN_EXECUTABLE} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
              --name=${summary} --output=${page} $<TARGET_FILE:${target}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${target}
      COMMENT "Man page of ${name}"
      VERBATIM)
    list(APPEND man_pages ${page}.gz)
  endforeach()
  add_custom_target(varnode_man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endif()
