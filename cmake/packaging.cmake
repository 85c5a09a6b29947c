# Installing. By default a self-contained folder: the programs, the skin files'
# place and an empty DATA folder, a desktop entry naming that folder.
# VELLUMAR_SYSTEM_INSTALL=ON lays the files out under a system prefix (bin/,
# share/) and makes the programs keep their own files in the user's XDG
# folders; `cpack` then builds the Debian package.
option(VELLUMAR_SYSTEM_INSTALL "Install into a system prefix and build the Debian package" OFF)

set(_vellumar_gui_dir ${PROJECT_SOURCE_DIR}/app/gui)
set(_vellumar_cli_dir ${PROJECT_SOURCE_DIR}/app/cli)

if(NOT VELLUMAR_SYSTEM_INSTALL)
  install(TARGETS vellumar-convert RUNTIME DESTINATION .)
  if(TARGET vellumar)
    install(TARGETS vellumar RUNTIME DESTINATION .)
    install(FILES ${VSKIN_MODULE_PATH} ${VSKIN_DATA_PATH} DESTINATION .)
    install(DIRECTORY DESTINATION DATA)
    install(FILES ${_vellumar_gui_dir}/vellumar.svg DESTINATION .)
    # The entry names the folder the program was installed to, known only then.
    install(CODE "
      set(VELLUMAR_DESKTOP_EXEC \"\\\"\${CMAKE_INSTALL_PREFIX}/vellumar\\\"\")
      set(VELLUMAR_DESKTOP_PATH \"Path=\${CMAKE_INSTALL_PREFIX}\")
      set(VELLUMAR_DESKTOP_ICON \"\${CMAKE_INSTALL_PREFIX}/vellumar.svg\")
      configure_file(\"${_vellumar_gui_dir}/vellumar.desktop.in\"
                     \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/vellumar.desktop\" @ONLY)
      message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/vellumar.desktop\")
    ")
  endif()
  return()
endif()

include(GNUInstallDirs)
# Only this file decides where the programs keep their files.
set_source_files_properties(app/batch/file_places.cpp PROPERTIES
  COMPILE_DEFINITIONS VELLUMAR_SYSTEM_INSTALL)

install(TARGETS vellumar-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET vellumar)
  install(TARGETS vellumar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(VELLUMAR_DESKTOP_EXEC vellumar)
  set(VELLUMAR_DESKTOP_PATH "")
  set(VELLUMAR_DESKTOP_ICON vellumar)
  configure_file(${_vellumar_gui_dir}/vellumar.desktop.in
                 ${PROJECT_BINARY_DIR}/packaging/vellumar.desktop @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/vellumar.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${_vellumar_gui_dir}/vellumar.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# Manual pages are shipped compressed; -n keeps the bytes free of time stamps.
set(_vellumar_pages ${_vellumar_cli_dir}/vellumar-convert.1)
if(TARGET vellumar)
  list(APPEND _vellumar_pages ${_vellumar_gui_dir}/vellumar.1)
endif()
set(_vellumar_pages_gz)
foreach(page IN LISTS _vellumar_pages)
  get_filename_component(name ${page} NAME)
  set(copy ${PROJECT_BINARY_DIR}/packaging/${name})
  set(gz ${copy}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E copy ${page} ${copy}
    COMMAND gzip -9nf ${copy}
    DEPENDS ${page}
    VERBATIM)
  list(APPEND _vellumar_pages_gz ${gz})
endforeach()
add_custom_target(vellumar_manpages ALL DEPENDS ${_vellumar_pages_gz})
install(FILES ${_vellumar_pages_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_vellumar_cli_dir}/vellumar-convert.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME vellumar-convert)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellumar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vellumar maintainers <maintainers@vellumar.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch image converter")
# CPack puts the summary first and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Converts a batch of image files into one chosen format: BMP, GIF, JPEG,\nPNG, ICO, TIFF, TGA, PCX, WBMP, JPEG-2000, PGX, PNM, Sun raster, WebP,\nHEIC, AVIF, JPEG XL, QOI and OpenEXR (WMF/EMF, PSD/PSB, SVG, PDF and camera raw\nfiles are read only). It provides the\nvellumar-convert command and the Vellumar desktop window.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from the binaries (new codec libraries included);
# what they cannot show is named: the Chinese font of the window and the
# metafiles, and the translations of Qt's own dialog buttons.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei | fonts-noto-cjk")
if(TARGET vellumar)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
endif()
# The codec modules ride inside the programs, where dpkg-shlibdeps cannot see
# them: cpack asks it about the module files themselves.
get_property(_vellumar_modules GLOBAL PROPERTY VELLUMAR_CODEC_MODULES)
set(VELLUMAR_MODULE_FILES)
foreach(name IN LISTS _vellumar_modules)
  list(APPEND VELLUMAR_MODULE_FILES ${PROJECT_BINARY_DIR}/modules/vellumar-${name}.so)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/module_depends.cmake.in
               ${PROJECT_BINARY_DIR}/packaging/module_depends.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/packaging/module_depends.cmake)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
