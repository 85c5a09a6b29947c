# vellumar_sees(<target> <folder>...)
#
# The layer table (docs/architecture.md) kept by the build: <target> finds the
# project's headers only in the folders named here, through a folder of links
# in the build tree, so that an #include across a forbidden line does not
# compile. Folders are given from the top of the source tree ("core",
# "codecs/png", "app/batch").
function(vellumar_sees target)
  set(root ${PROJECT_BINARY_DIR}/layers/${target})
  # Links of an earlier configuration go first, so that a folder taken off
  # the list is no longer seen. Only links are removed, never what they name.
  file(GLOB_RECURSE old LIST_DIRECTORIES true ${root}/*)
  foreach(path IN LISTS old)
    if(IS_SYMLINK ${path})
      file(REMOVE ${path})
    endif()
  endforeach()
  foreach(dir IN LISTS ARGN)
    if(NOT IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${dir})
      message(FATAL_ERROR "vellumar_sees(${target}): no folder ${dir}")
    endif()
    get_filename_component(parent ${root}/${dir} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${dir} ${root}/${dir} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PRIVATE ${root})
endfunction()
