# Packages from the install rules: on Linux one Debian package per component,
# on Windows one zip with the DLL, its import library, the header and the
# CMake package. `cpack` in the build folder makes them.
set(CPACK_PACKAGE_NAME varnode)
set(CPACK_PACKAGE_VENDOR varnode)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each Debian package's description: its own summary line, then the rest.
set(varnode_summary "control of small Ethernet I/O modules over DCP")
set(CPACK_PACKAGE_CONTACT "varnode maintainers <varnode@localhost>" CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

# The packages to make, one per install component (each with its
# CPACK_DEBIAN_<NAME>_* settings below): the library and its development
# files, the tools when they are built, and on Linux the Python package.
# Components not listed (e.g. third-party code that installs under
# "Unspecified") are never packaged.
set(VARNODE_PACKAGE_COMPONENTS runtime dev)
if(TARGET varnode-cli OR TARGET varnode-sim)
  list(APPEND VARNODE_PACKAGE_COMPONENTS tools)
endif()
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  list(APPEND VARNODE_PACKAGE_COMPONENTS python)
endif()
if(VARNODE_DOCS)
  list(APPEND VARNODE_PACKAGE_COMPONENTS doc)
endif()
set(CPACK_COMPONENTS_ALL ${VARNODE_PACKAGE_COMPONENTS})

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME varnode-${PROJECT_VERSION}-windows-x86_64)
  else()
    set(CPACK_PACKAGE_FILE_NAME varnode-${PROJECT_VERSION}-windows-x86)
  endif()
  # One archive for everything, the components merged.
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Dependencies on system libraries from dpkg-shlibdeps; between our own
  # packages, the exact version (the components' DEPENDS below).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  # dpkg-shlibdeps runs in each component's staging folder; the tools need
  # the library, which is staged beside them rather than installed.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../runtime/usr/${CMAKE_INSTALL_LIBDIR})
  # The library package gets a shlibs file, and runs ldconfig when installed and removed.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvarnode${PROJECT_VERSION_MAJOR})
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${varnode_summary} (library)
A C library for small Ethernet I/O modules that speak DCP, a binary protocol
on UDP port 30000: digital I/O, digital outputs, counters, streamed analog
inputs, analog outputs and temperature modules.")

  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvarnode-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_DESCRIPTION "${varnode_summary} (development files)
The header, the link-time library, the CMake package (find_package(varnode))
and the pkg-config file (varnode.pc) of the varnode library.")

  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME varnode-tools)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_TOOLS_DESCRIPTION "${varnode_summary} (tools)
varnode, every library operation from the command line, and varnode-sim, a
rack of virtual modules that answer DCP, for trying programs without
hardware; varnode-mqtt, a bridge from the modules to an MQTT broker, with
its systemd unit (where built with libmosquitto). Also the Wireshark dissector of the protocol.")

  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-varnode)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
  # The library by its soname through the loader: any build of this version.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= 3.9), python3-numpy, python3-aiohttp")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/python/prerm)
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION "${varnode_summary} (Python 3)
The varnode package: every module family from Python over the C library with
ctypes, streamed measurements as numpy arrays; and varnode-panel, a web panel
that shows the rack live in a browser, with its page and chart library.")

  set(CPACK_DEBIAN_DOC_PACKAGE_NAME varnode-doc)
  set(CPACK_DEBIAN_DOC_PACKAGE_SECTION doc)
  set(CPACK_DEBIAN_DOC_PACKAGE_ARCHITECTURE all)
  set(CPACK_DEBIAN_DOC_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_DOC_DESCRIPTION "${varnode_summary} (manual)
The varnode manual in HTML: getting started, concepts, the C reference with
every result code of every function, the Python reference, the tools, and
the accuracy of the temperature conversions.")
endif()

include(CPack)
cpack_add_component(runtime DISPLAY_NAME "Library")
cpack_add_component(dev DISPLAY_NAME "Development files" DEPENDS runtime)
cpack_add_component(tools DISPLAY_NAME "Tools" DEPENDS runtime)
cpack_add_component(python DISPLAY_NAME "Python package" DEPENDS runtime)
cpack_add_component(doc DISPLAY_NAME "Manual")
