# One static library per module. Its sources include headers by their path
# from the source root ("notes/notes.h"), but a library does not see the
# source root: its PUBLIC include directory holds one entry, a link named
# after the module pointing at the module's folder. A library therefore sees
# its own headers and those of the libraries it links, and including a
# header of a module it may not use fails to compile.
function(harvest_module name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;USES;PRIVATE_USES")
  add_library(${name} STATIC ${arg_SOURCES})
  set(root ${CMAKE_BINARY_DIR}/module_roots/${name})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${name} SYMBOLIC)
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PRIVATE harvest_warnings PUBLIC ${arg_USES} PRIVATE ${arg_PRIVATE_USES})
endfunction()
