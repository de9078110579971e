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
install(FILES ${PROJECT_SOURCE_DIR}/include/varnode/varnode.h ${PROJECT_SOURCE_DIR}/include/varnode/catalogue.h
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
foreach(tool varnode-cli varnode-sim varnode-mqtt)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()

# The MQTT bridge's systemd unit (one instance per description:
# varnode-mqtt@hall.service reads /etc/varnode/mqtt/hall.json).
if(TARGET varnode-mqtt)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/mqtt/varnode-mqtt@.service DESTINATION lib/systemd/system COMPONENT tools)
endif()

# The Wireshark dissector goes with the tools, into the system's plugin folder.
if(TARGET varnode-sim)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/dcp.lua
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/wireshark/plugins COMPONENT tools)
endif()

# The Python package, for its Debian package only: where a Debian python3
# looks for packages installed by dpkg. Elsewhere pip installs it.
# The web panel's page goes with it, and its chart library, which
# scripts/panel-assets.sh fetches from npm at the pinned version when the
# package is made (never kept in the repository).
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  install(CODE "execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/panel-assets.sh COMMAND_ERROR_IS_FATAL ANY)"
          COMPONENT python EXCLUDE_FROM_ALL)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/src/varnode DESTINATION lib/python3/dist-packages
          COMPONENT python EXCLUDE_FROM_ALL FILES_MATCHING PATTERN "*.py" PATTERN "py.typed"
          REGEX "/static/[^/]+[.](html|js|css)$" REGEX "/static/vendor/([^/]+[.](js|css)|LICENSE)$"
          PATTERN "__pycache__" EXCLUDE)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/panel/varnode-panel DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT python EXCLUDE_FROM_ALL)
endif()

# The manual (docs/, by scripts/docs.sh): the HTML for the varnode-doc package,
# a man page per export in section 3 with the development files and the
# programs' pages in section 1 with the tools. Sphinx runs the tools' Python
# reference against the library it just built, so not for cross builds nor
# under sanitizers.
if(TARGET varnode-cli AND TARGET varnode-sim AND CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CROSSCOMPILING
   AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  varnode_feature(VARNODE_DOCS "the manual and its man pages")
  varnode_require(VARNODE_DOCS PROGRAM sphinx-build PACKAGE python3-sphinx)
else()
  set(VARNODE_DOCS OFF)
endif()
if(VARNODE_DOCS)
  set(manual ${PROJECT_BINARY_DIR}/manual)
  file(GLOB_RECURSE manual_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/*.rst
       ${PROJECT_SOURCE_DIR}/docs/*.py ${PROJECT_SOURCE_DIR}/docs/examples/*.c ${PROJECT_SOURCE_DIR}/python/src/varnode/*.py)
  list(FILTER manual_sources EXCLUDE REGEX "/docs/(reference/c|_generated)/")
  add_custom_command(OUTPUT ${manual}/stamp
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/docs.sh --site-only ${PROJECT_BINARY_DIR} ${manual}
    COMMAND sh -c "gzip -9nkf ${manual}/man/*.[13]"
    COMMAND ${CMAKE_COMMAND} -E touch ${manual}/stamp
    DEPENDS varnode varnode-cli varnode-sim docs_accuracy_sample ${manual_sources}
            ${PROJECT_SOURCE_DIR}/include/varnode/varnode.h ${PROJECT_SOURCE_DIR}/tools/sim/rack.md
    COMMENT "The manual and the man pages"
    VERBATIM)
  add_custom_target(varnode_manual ALL DEPENDS ${manual}/stamp)
  install(DIRECTORY ${manual}/man/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT dev
          FILES_MATCHING PATTERN "*.3.gz")
  # varnode-panel's page goes with the Python package, which has the program.
  install(DIRECTORY ${manual}/man/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools
          FILES_MATCHING PATTERN "*.1.gz" PATTERN "varnode-panel.1.gz" EXCLUDE)
  install(FILES ${manual}/man/varnode-panel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT python EXCLUDE_FROM_ALL)
  install(DIRECTORY ${manual}/html/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/varnode-doc/html COMPONENT doc
          PATTERN ".buildinfo" EXCLUDE)
endif()

# Without the manual, man pages made from each tool's --help. The tools run at build time, so
# not for cross builds, nor under sanitizers (ThreadSanitizer programs may
# not start outside setarch -R).
if(VARNODE_DOCS)
  set(VARNODE_MAN_PAGES ON)  # the manual's
elseif(TARGET varnode-cli AND NOT CMAKE_CROSSCOMPILING AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  varnode_feature(VARNODE_MAN_PAGES "the man pages of the tools")
  varnode_require(VARNODE_MAN_PAGES PROGRAM help2man PACKAGE help2man)
else()
  set(VARNODE_MAN_PAGES OFF)
endif()
if(VARNODE_MAN_PAGES AND NOT VARNODE_DOCS)
  set(man_pages "")
  foreach(entry "varnode-cli|varnode|control I/O modules over DCP from the command line"
                "varnode-sim|varnode-sim|a rack of virtual I/O modules that answer DCP"
                "varnode-mqtt|varnode-mqtt|a bridge from I/O modules to an MQTT broker")
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
  # varnode-panel's, with the Python package, where Debian's python3 can run it
  # (it needs aiohttp for --help too).
  set(panel_page "")
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND EXISTS /usr/bin/python3)
    execute_process(COMMAND /usr/bin/python3 -c "import aiohttp" RESULT_VARIABLE no_aiohttp OUTPUT_QUIET ERROR_QUIET)
    if(no_aiohttp EQUAL 0)
      set(panel_page ${PROJECT_BINARY_DIR}/man/varnode-panel.1)
      add_custom_command(OUTPUT ${panel_page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${PROJECT_SOURCE_DIR}/python/src
                VARNODE_LIBRARY=$<TARGET_FILE:varnode>
                ${HELP2MAN_EXECUTABLE} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
                "--name=a web panel for a rack of varnode modules" --output=${panel_page}
                ${PROJECT_SOURCE_DIR}/tools/panel/varnode-panel
        COMMAND gzip -9nf ${panel_page}
        DEPENDS varnode ${PROJECT_SOURCE_DIR}/python/src/varnode/panel/__main__.py
        COMMENT "Man page of varnode-panel"
        VERBATIM)
      set(panel_page ${panel_page}.gz)
      install(FILES ${panel_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT python EXCLUDE_FROM_ALL)
    else()
      message(NOTICE "-- varnode: the man page of varnode-panel left out: install python3-aiohttp (Debian) to build it")
    endif()
  endif()
  add_custom_target(varnode_man_pages ALL DEPENDS ${man_pages} ${panel_page})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endif()
