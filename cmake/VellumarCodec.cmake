# vellumar_add_codec(<name> SOURCES <file>... [SEES <codec>...] [PKG <pkg-config module>...]
#                    [LIBS <target>...]
#                    [MODULE [ENGINE <file>...] [SHARED_SOURCES <file>...] [WITH <codec>...]])
#
# Adds the codec in codecs/<name>/ to the engine: its sources as a target of
# their own (vellumar_codec_<name>) that sees core/, its own folder and the
# codec folders SEES names, the pkg-config modules it needs (imported as
# PkgConfig::VX_CODEC_<NAME>) and any further link targets. The libraries'
# headers are the codec's alone. Every codec is required: a missing library
# stops the configuration, so the registry never names a codec the build left
# out.
#
# MODULE: the codec and its libraries become a module (vellumar_module_<name>,
# <build>/modules/vellumar-<name>.so) that the program carries inside itself
# and loads on the first file (codecs/codec_modules.h); only the ENGINE
# sources (the probe's Claims test) stay in the program. SHARED_SOURCES go
# into this module and into those of the codecs that name this one in WITH.
# The tests link every module codec directly instead (vellumar_whole_tree).
function(vellumar_add_codec name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "MODULE" "" "SOURCES;SEES;PKG;LIBS;ENGINE;SHARED_SOURCES;WITH")
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "vellumar_add_codec(${name}): no SOURCES")
  endif()
  set(target vellumar_codec_${name})
  foreach(list SOURCES ENGINE SHARED_SOURCES)
    list(TRANSFORM ARG_${list} PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/${name}/)
  endforeach()
  list(TRANSFORM ARG_SEES PREPEND codecs/)
  set(libs ${ARG_LIBS})
  if(ARG_PKG)
    string(TOUPPER "VX_CODEC_${name}" prefix)
    pkg_check_modules(${prefix} REQUIRED IMPORTED_TARGET ${ARG_PKG})
    list(APPEND libs PkgConfig::${prefix})
  endif()

  add_library(${target} OBJECT ${ARG_SOURCES})
  vellumar_sees(${target} core codecs/${name} ${ARG_SEES})
  if(libs)
    target_link_libraries(${target} PRIVATE ${libs})
    target_link_libraries(vellumar_whole_tree INTERFACE ${libs})
  endif()
  set_property(GLOBAL APPEND PROPERTY VELLUMAR_CODEC_TARGETS ${target})

  if(NOT ARG_MODULE)
    target_sources(vellumar_engine PRIVATE $<TARGET_OBJECTS:${target}>)
    if(libs)
      target_link_libraries(vellumar_engine PRIVATE ${libs})
    endif()
    return()
  endif()

  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  set(objects $<TARGET_OBJECTS:${target}>)
  if(ARG_SHARED_SOURCES)
    add_library(${target}_shared OBJECT ${ARG_SHARED_SOURCES})
    vellumar_sees(${target}_shared core codecs/${name} ${ARG_SEES})
    set_target_properties(${target}_shared PROPERTIES POSITION_INDEPENDENT_CODE ON)
    if(libs)
      target_link_libraries(${target}_shared PRIVATE ${libs})
    endif()
    list(APPEND objects $<TARGET_OBJECTS:${target}_shared>)
    set_property(GLOBAL APPEND PROPERTY VELLUMAR_CODEC_TARGETS ${target}_shared)
  endif()
  # The tests' copy takes each codec's objects once.
  target_sources(vellumar_module_codecs PRIVATE ${objects})
  foreach(other IN LISTS ARG_WITH)
    list(APPEND objects $<TARGET_OBJECTS:vellumar_codec_${other}_shared>)
  endforeach()
  if(ARG_ENGINE)
    add_library(${target}_engine OBJECT ${ARG_ENGINE})
    vellumar_sees(${target}_engine core codecs/${name})
    target_sources(vellumar_engine PRIVATE $<TARGET_OBJECTS:${target}_engine>)
    set_property(GLOBAL APPEND PROPERTY VELLUMAR_CODEC_TARGETS ${target}_engine)
  endif()

  # Everything but the entry stays inside the module: its own names bind to
  # its own code, and two modules never meet.
  set(module vellumar_module_${name})
  add_library(${module} MODULE ${objects})
  target_link_libraries(${module} PRIVATE ${libs})
  target_link_options(${module} PRIVATE
    "LINKER:--version-script=${PROJECT_SOURCE_DIR}/codecs/codec_module.map")
  set_target_properties(${module} PROPERTIES
    PREFIX "" SUFFIX ".so" OUTPUT_NAME vellumar-${name}
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/modules
    LINK_DEPENDS ${PROJECT_SOURCE_DIR}/codecs/codec_module.map)
  set_property(GLOBAL APPEND PROPERTY VELLUMAR_CODEC_MODULES ${name})
endfunction()
