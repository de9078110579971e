# The manual itself: built with warnings as errors and checked for anything
# undocumented (scripts/docs.sh), its Python examples run against a virtual
# rack in a namespace of its own, and its links followed in a browser. Not
# under the sanitizers (the Python reference loads the library into the
# system's python3) nor when cross-compiling.
if(TARGET varnode-cli AND TARGET varnode-sim AND NOT CMAKE_CROSSCOMPILING
   AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize" AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  add_test(NAME docs_build COMMAND ${PROJECT_SOURCE_DIR}/scripts/docs.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(docs_build PROPERTIES LABELS docs TIMEOUT 600 FIXTURES_SETUP docs_site)
  add_test(NAME docs_doctest
    COMMAND $<TARGET_FILE:varnode-sim> --netns --exec
            "env VARNODE_LIBRARY=$<TARGET_FILE:varnode> /usr/bin/python3 -m sphinx -E -W -q -b doctest -d ${PROJECT_BINARY_DIR}/docs/doctest-trees ${PROJECT_SOURCE_DIR}/docs ${PROJECT_BINARY_DIR}/docs/doctest")
  set_tests_properties(docs_doctest PROPERTIES LABELS docs TIMEOUT 300 FIXTURES_REQUIRED docs_site RUN_SERIAL TRUE)
  add_test(NAME docs_links COMMAND /usr/bin/python3 ${PROJECT_SOURCE_DIR}/docs/_ext/links.py
                                   ${PROJECT_SOURCE_DIR}/build/docs/html)
  set_tests_properties(docs_links PROPERTIES LABELS docs TIMEOUT 300 FIXTURES_REQUIRED docs_site)
endif()
