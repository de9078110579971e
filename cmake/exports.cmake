# The functions the public header declares for export, in the header's
# order: the one list the linker's export files and the exported-symbols
# test are made from.
function(varnode_declared_functions header out)
  file(READ ${header} text)
  string(REGEX MATCHALL "VARNODE_API uint8_t [a-z0-9_]+\\(" declared "${text}")
  set(names "")
  foreach(item IN LISTS declared)
    string(REGEX REPLACE "VARNODE_API uint8_t ([a-z0-9_]+)\\(" "\\1" name "${item}")
    list(APPEND names ${name})
  endforeach()
  # A declaration of another shape would silently stay unexported.
  string(REGEX MATCHALL "\nVARNODE_API" starts "${text}")
  list(LENGTH starts declarations)
  list(LENGTH names found)
  if(NOT declarations EQUAL found)
    message(FATAL_ERROR "${header}: ${declarations} declarations start with VARNODE_API, "
                        "${found} of them read 'VARNODE_API uint8_t name('")
  endif()
  set(${out} ${names} PARENT_SCOPE)
endfunction()
