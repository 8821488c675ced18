# What `cmake --install` (and so `make install` and the Debian package) puts where, by GNUInstallDirs:
#   bin/ocelo-cli, bin/ocelo                      the programs
#   share/man/man1/ocelo-cli.1.gz, ocelo.1.gz     the manual pages (docs/*.1, compressed as Debian ships them)
#   share/bash-completion/completions/ocelo-cli   bash completion
#   share/applications/org.ocelo.Ocelo.desktop    the desktop entry        } with the dialog
#   share/metainfo/org.ocelo.Ocelo.metainfo.xml   AppStream metadata       }
#   share/icons/hicolor/.../apps/ocelo.{svg,png}  the icon                 }
#   share/doc/ocelo/copyright, README.md          the licence (MIT) and the README
# The completion goes below the install prefix rather than where pkg-config's bash-completion names, so a
# staged or /usr/local install never writes outside its prefix; for the prefix /usr both are the same.

install(TARGETS ocelo-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual pages, compressed without a time stamp so that two builds give the same bytes.
set(_ocelo_man_pages ocelo-cli.1)
if(OCELO_BUILD_GUI)
  list(APPEND _ocelo_man_pages ocelo.1)
endif()
set(_ocelo_man_gz)
foreach(page IN LISTS _ocelo_man_pages)
  set(gz ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/docs/${page} > ${gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page}
    COMMENT "Compressing the manual page ${page}")
  list(APPEND _ocelo_man_gz ${gz})
endforeach()
add_custom_target(ocelo_man_pages ALL DEPENDS ${_ocelo_man_gz})
install(FILES ${_ocelo_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/data/ocelo-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ocelo-cli)

if(OCELO_BUILD_GUI)
  install(TARGETS ocelo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The desktop's files: the entry, its AppStream data and the icon theme's pictures.
if(OCELO_BUILD_GUI AND NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/data/org.ocelo.Ocelo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  configure_file(${PROJECT_SOURCE_DIR}/data/org.ocelo.Ocelo.metainfo.xml.in
                 ${CMAKE_BINARY_DIR}/data/org.ocelo.Ocelo.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/data/org.ocelo.Ocelo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${OCELO_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size IN LISTS OCELO_ICON_SIZES)
    install(FILES ${OCELO_ICON_DIR}/hicolor/${size}x${size}/apps/ocelo.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/ocelo RENAME copyright)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/ocelo)
