# Installation and the Debian package.
#
#   cmake --install build --prefix DIR     programs in DIR/bin, libraries in DIR/lib (the
#                                          programs find them through $ORIGIN/../lib), the
#                                          desktop entry and its AppStream metainfo, icons,
#                                          MIME types, translations and man pages
#   cd build && cpack -G DEB               tavrion-converter_<version>_<arch>.deb for /usr
#
# Component libraries are registered by the programs themselves on their first start (and
# again whenever their registration is lost), so installing writes no registry.

# Programs and libraries.
set(_install_programs tavrion-converter tavrion-convert tavrion-probe regsvr regdump rotlist graphinfo)
set(_install_libraries platform_runtime platform_gdi platform_streaming platform_filters platform_acm clipmux
    captionparser vxvideokit captionpainter vxcamwriter qvfreader subtypeshim)

# "lib", not the multiarch folder: the programs' run path and the registration of the
# component libraries both look in the program's ../lib.
install(TARGETS ${_install_programs} RUNTIME DESTINATION bin)
install(TARGETS ${_install_libraries} LIBRARY DESTINATION lib)

set(_res ${PROJECT_SOURCE_DIR}/converter/ui/resources)
install(FILES ${_res}/tavrion-converter.desktop DESTINATION share/applications)
install(FILES ${TAVRION_METAINFO} DESTINATION share/metainfo)
install(FILES ${_res}/tavrion-converter-mime.xml DESTINATION share/mime/packages RENAME tavrion-converter.xml)
install(FILES ${_res}/tavrion-converter.svg DESTINATION share/icons/hicolor/scalable/apps)
# The translations the build compiled (converter/ui/translations), found by the program in
# ../share/tavrion-converter/translations.
install(FILES ${TAVRION_QM_FILES} DESTINATION share/tavrion-converter/translations)
foreach(size ${TAVRION_ICON_SIZES})
  install(FILES ${TAVRION_ICON_DIR}/${size}x${size}.png DESTINATION share/icons/hicolor/${size}x${size}/apps
          RENAME tavrion-converter.png)
endforeach()

# Man pages, compressed as Debian ships them; without gzip (a minimal build machine) they are
# installed as they are.
find_program(GZIP_PROGRAM gzip)
# Pages in another language sit in man/<language>/ and go to share/man/<language>/man1.
set(_manpages tavrion-convert.1 tavrion-converter.1 tavrion-probe.1 ko/tavrion-converter.1)
set(_manfiles)
foreach(page ${_manpages})
  get_filename_component(_mandir "${page}" DIRECTORY)
  if(GZIP_PROGRAM)
    set(_out ${CMAKE_BINARY_DIR}/share/man/${page}.gz)
    add_custom_command(OUTPUT ${_out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/man/${_mandir}
      COMMAND ${GZIP_PROGRAM} -9 -n -c ${PROJECT_SOURCE_DIR}/man/${page} > ${_out}
      DEPENDS ${PROJECT_SOURCE_DIR}/man/${page})
  else()
    set(_out ${PROJECT_SOURCE_DIR}/man/${page})
  endif()
  list(APPEND _manfiles ${_out})
  if(_mandir)
    install(FILES ${_out} DESTINATION share/man/${_mandir}/man1)
  else()
    install(FILES ${_out} DESTINATION share/man/man1)
  endif()
endforeach()
add_custom_target(tavrion_manpages ALL DEPENDS ${_manfiles})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrion-converter)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tavrion Converter")
set(CPACK_PACKAGE_CONTACT "Tavrion Converter maintainers <tavrion-converter@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "video converter for the movie player of Merolan cameras")
set(CPACK_PACKAGE_DESCRIPTION
    "Turns ordinary movies (AVI, MPEG, WMV/ASF, QuickTime, 3GP, MP4) into QVF movies that the\n"
    "camera plays in its movie-player mode, with frame size, frame rate, screen fit, split\n"
    "size, trim points and burned-in subtitles per movie. Desktop program tavrion-converter,\n"
    "command-line converter tavrion-convert and preview probe tavrion-probe.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Shared libraries come from dpkg-shlibdeps; what is loaded at run time is named here: the
# X11 platform plugin ships with libqt6gui6, fonts for captions, the desktop's databases
# that pick up the MIME types and the desktop entry, and the libraries the filters open when
# they first need them (libavfilter for deinterlacing and turning, SDL for sound).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fontconfig, fonts-dejavu-core, shared-mime-info, libuchardet0, libavfilter8, libsdl2-2.0-0")
# Qt's own catalogs translate its standard buttons and file dialogs in the user's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "desktop-file-utils, hicolor-icon-theme, qt6-translations-l10n")
include(CPack)
