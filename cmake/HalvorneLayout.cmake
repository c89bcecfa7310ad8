# Sources include headers by their path from the top of the tree
# ("transfer/gui/Form_Run.h"). Were the whole tree an include path, any
# target could include any header, whatever it links. So each library
# exports an include root of its own in the build tree that holds a link to
# its one folder: a header of a library that a target does not link is not
# found, and a wrong include fails to build.
#
#   halvorne_export_folder(<target> <folder relative to the top of the tree>)
function(halvorne_export_folder target folder)
  set(root "${CMAKE_BINARY_DIR}/include/${target}")
  set(link "${root}/${folder}")
  get_filename_component(parent "${link}" DIRECTORY)
  file(MAKE_DIRECTORY "${parent}")
  if(NOT IS_SYMLINK "${link}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}" "${link}" SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE "${root}")
  else()
    target_include_directories(${target} PUBLIC "${root}")
  endif()
endfunction()
