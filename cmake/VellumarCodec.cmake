# vellumar_add_codec(<name> SOURCES <file>... [SEES <codec>...] [PKG <pkg-config module>...]
#                    [LIBS <target>...])
#
# Adds the codec in codecs/<name>/ to the engine: its sources as a target of
# their own (vellumar_codec_<name>) that sees core/, its own folder and the
# codec folders SEES names, the pkg-config modules it needs (imported as
# PkgConfig::VX_CODEC_<NAME>) and any further link targets. The libraries'
# headers are the codec's alone. Every codec is required: a missing library
# stops the configuration, so the registry never names a codec the build left
# out.
function(vellumar_add_codec name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "SOURCES;SEES;PKG;LIBS")
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "vellumar_add_codec(${name}): no SOURCES")
  endif()
  set(target vellumar_codec_${name})
  list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/${name}/)
  add_library(${target} OBJECT ${ARG_SOURCES})
  list(TRANSFORM ARG_SEES PREPEND codecs/)
  vellumar_sees(${target} core codecs/${name} ${ARG_SEES})
  target_sources(vellumar_engine PRIVATE $<TARGET_OBJECTS:${target}>)
  set(libs ${ARG_LIBS})
  if(ARG_PKG)
    string(TOUPPER "VX_CODEC_${name}" prefix)
    pkg_check_modules(${prefix} REQUIRED IMPORTED_TARGET ${ARG_PKG})
    list(APPEND libs PkgConfig::${prefix})
  endif()
  if(libs)
    target_link_libraries(${target} PRIVATE ${libs})
    target_link_libraries(vellumar_engine PRIVATE ${libs})
    target_link_libraries(vellumar_whole_tree INTERFACE ${libs})
  endif()
  set_property(GLOBAL APPEND PROPERTY VELLUMAR_CODEC_TARGETS ${target})
endfunction()
