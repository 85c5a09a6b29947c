# vellumar_add_codec(<name> SOURCES <file>... [PKG <pkg-config module>...] [LIBS <target>...])
#
# Adds the codec in codecs/<name>/ to the engine: its sources, the pkg-config
# modules it needs (imported as PkgConfig::VX_CODEC_<NAME>) and any further
# link targets. Every codec is required: a missing library stops the
# configuration, so the registry never names a codec the build left out.
function(vellumar_add_codec name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "SOURCES;PKG;LIBS")
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "vellumar_add_codec(${name}): no SOURCES")
  endif()
  list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/${name}/)
  target_sources(vellumar_engine PRIVATE ${ARG_SOURCES})
  if(ARG_PKG)
    string(TOUPPER "VX_CODEC_${name}" prefix)
    pkg_check_modules(${prefix} REQUIRED IMPORTED_TARGET ${ARG_PKG})
    target_link_libraries(vellumar_engine PUBLIC PkgConfig::${prefix})
  endif()
  if(ARG_LIBS)
    target_link_libraries(vellumar_engine PUBLIC ${ARG_LIBS})
  endif()
endfunction()
