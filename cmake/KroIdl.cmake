# kro_idl_sources(<out-var> <idl-file> [OUTPUT_DIR <dir>] [INCLUDE_DIRS <dir>...])
#
# Runs omniidl (C++ back end, with Any support) on one IDL file and sets
# <out-var> to the generated sources. The header <name>.hh lands in the
# output directory, which the caller puts on its include path.
function(kro_idl_sources out_var idl_file)
  cmake_parse_arguments(ARG "" "OUTPUT_DIR" "INCLUDE_DIRS" ${ARGN})
  get_filename_component(idl_abs ${idl_file} ABSOLUTE)
  get_filename_component(name ${idl_file} NAME_WE)
  if(NOT ARG_OUTPUT_DIR)
    set(ARG_OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR}/idl)
  endif()
  file(MAKE_DIRECTORY ${ARG_OUTPUT_DIR})
  set(includes)
  foreach(dir ${ARG_INCLUDE_DIRS})
    list(APPEND includes -I${dir})
  endforeach()
  set(outputs ${ARG_OUTPUT_DIR}/${name}.hh ${ARG_OUTPUT_DIR}/${name}SK.cc ${ARG_OUTPUT_DIR}/${name}DynSK.cc)
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${OMNIIDL_EXECUTABLE} -bcxx -Wba -C ${ARG_OUTPUT_DIR} ${includes} ${idl_abs}
    DEPENDS ${idl_abs}
    COMMENT "omniidl ${name}.idl"
    VERBATIM)
  set(${out_var} ${outputs} PARENT_SCOPE)
endfunction()
