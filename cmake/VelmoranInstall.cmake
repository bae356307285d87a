# Installation and the Debian package.
#
# The program finds its data files beside its own executable (the folder of
# QCoreApplication::applicationDirPath(), which Qt takes from /proc/self/exe and so resolves
# symbolic links). The executables therefore live together with those files in a private
# folder, <prefix>/lib/velmoran, and <prefix>/bin holds relative symbolic links to them.
include(GNUInstallDirs)

set(VELMORAN_INSTALL_PROGRAM_DIR lib/velmoran
    CACHE STRING "Folder, below the prefix, that holds the executables and their data files")
set(VELMORAN_HELP_VIDEO "${PROJECT_SOURCE_DIR}/app/resources/Help Video/Skype Allow.avi"
    CACHE FILEPATH "The help video installed as 'Help Video/Skype Allow.avi' when it exists")
set(VELMORAN_SKIN_FILE ""
    CACHE FILEPATH "A skin file installed as 'x/o.cjs'; none is installed when empty")

set(VELMORAN_APP_ID org.velmoran.Velmoran)
set(VELMORAN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# Installs an executable target into the program folder and links it from bin/.
function(velmoran_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${VELMORAN_INSTALL_PROGRAM_DIR})
  set(link_dir ${CMAKE_BINARY_DIR}/install-links)
  file(MAKE_DIRECTORY ${link_dir})
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  file(RELATIVE_PATH link_target /prefix/${CMAKE_INSTALL_BINDIR}
       /prefix/${VELMORAN_INSTALL_PROGRAM_DIR}/${output_name})
  file(CREATE_LINK ${link_target} ${link_dir}/${output_name} SYMBOLIC)
  install(FILES ${link_dir}/${output_name} DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

foreach(program velmoran velmoran-find velmoran-archive)
  if(TARGET ${program})
    velmoran_install_program(${program})
  endif()
endforeach()

# Files the program looks for beside itself.
install(FILES ${PROJECT_SOURCE_DIR}/app/resources/HAND-M.CUR
        DESTINATION ${VELMORAN_INSTALL_PROGRAM_DIR})
if(EXISTS "${VELMORAN_HELP_VIDEO}")
  install(FILES "${VELMORAN_HELP_VIDEO}" RENAME "Skype Allow.avi"
          DESTINATION "${VELMORAN_INSTALL_PROGRAM_DIR}/Help Video")
endif()
if(VELMORAN_SKIN_FILE)
  if(NOT EXISTS "${VELMORAN_SKIN_FILE}")
    message(FATAL_ERROR "VELMORAN_SKIN_FILE names a file that does not exist: ${VELMORAN_SKIN_FILE}")
  endif()
  install(FILES "${VELMORAN_SKIN_FILE}" RENAME o.cjs DESTINATION ${VELMORAN_INSTALL_PROGRAM_DIR}/x)
endif()

# Manual pages and the shell completions of the command-line programs.
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/velmoran.1 ${PROJECT_SOURCE_DIR}/docs/man/velmoran-find.1
              ${PROJECT_SOURCE_DIR}/docs/man/velmoran-archive.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VELMORAN_PACKAGING_DIR}/bash-completion/velmoran-find
              ${VELMORAN_PACKAGING_DIR}/bash-completion/velmoran-archive
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Desktop integration: menu entry, icons, software-centre metadata.
install(FILES ${VELMORAN_PACKAGING_DIR}/${VELMORAN_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VELMORAN_PACKAGING_DIR}/${VELMORAN_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/app/resources/velmoran.svg RENAME ${VELMORAN_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${VELMORAN_PACKAGING_DIR}/icons/hicolor
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# cpack -G DEB (from the build folder) builds velmoran_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmoran)
set(CPACK_PACKAGE_VENDOR "Velmoran Software")
set(CPACK_PACKAGE_CONTACT "Velmoran Software <support@velmoran.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "search a chat history for a text, contact by contact")
set(CPACK_PACKAGE_DESCRIPTION
    "Velmoran lists the contacts of a chat history, searches the messages of the chosen\n\
contacts for a text (sender name, body and timestamp) and lists every match. The results\n\
can be pruned, saved as a text file, copied to the clipboard or opened as a workbook.")
set(CPACK_PACKAGE_HOMEPAGE_URL https://velmoran.org/)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Shared libraries come from dpkg-shlibdeps; what is loaded at run time by name is listed:
# the SVG icon engine, the Arial-compatible fonts, xdg-open for documents and web pages, the
# MIME database for the menu entry's file types, and libXcursor, which Qt's X11 support opens
# to draw the desktop's pointer theme (the program changes pointers often).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6svg6, fonts-liberation, xdg-utils, shared-mime-info, libxcursor1")
# Native windows on a Wayland desktop (without it Qt draws through XWayland), a colour emoji
# font and a font for Chinese, Japanese and Korean: message texts are full of emoji and names in
# other scripts, which show as empty boxes without them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, fonts-noto-color-emoji, fonts-noto-cjk")
include(CPack)
