# What `cmake --install` puts under the prefix: the programs, the default
# signatures in the data folder (where the programs look first, relative to
# themselves), the documentation, a man page per program, the bash
# completion and, with the wizard, its desktop entry and icon. Not the
# tests, not the developers' qsalvage-gui-tools.

include(GNUInstallDirs)
# The documents go under the program's name, as a package puts them, unless
# a folder is given (-DCMAKE_INSTALL_DOCDIR=...).
if(NOT "$CACHE{CMAKE_INSTALL_DOCDIR}")
  set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/qsalvage)
endif()

set(QIS_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

install(TARGETS qsalvage RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/FileSetting.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/qsalvage)
file(GLOB QIS_DOCS ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${QIS_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${QIS_PACKAGING_DIR}/qsalvage.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME qsalvage)

# qsalvage's page is made from its own --help and --version, so it cannot
# fall behind the program; the wizard takes no options and has a page
# written by hand.
find_program(QIS_HELP2MAN help2man)
find_program(QIS_GZIP gzip)
set(QIS_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(QIS_MAN_PAGES)
if(QIS_HELP2MAN AND QIS_GZIP)
  # help2man runs a program with --help and --version alone: this one runs
  # qsalvage and puts its usage forms where help2man finds a synopsis.
  set(QIS_HELP_FOR_MAN ${QIS_MAN_DIR}/qsalvage-help)
  file(GENERATE OUTPUT ${QIS_HELP_FOR_MAN}
       CONTENT "#!/bin/sh\nexec bash '${QIS_PACKAGING_DIR}/help-for-man.sh' '$<TARGET_FILE:qsalvage>' \"$@\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  add_custom_command(
    OUTPUT ${QIS_MAN_DIR}/qsalvage.1.gz
    COMMAND ${QIS_HELP2MAN} --no-info --section 1 --source "Quenmar Image Salvage"
            --include ${QIS_PACKAGING_DIR}/qsalvage.h2m --output ${QIS_MAN_DIR}/qsalvage.1 ${QIS_HELP_FOR_MAN}
    COMMAND ${QIS_GZIP} -9nf ${QIS_MAN_DIR}/qsalvage.1
    DEPENDS qsalvage ${QIS_HELP_FOR_MAN} ${QIS_PACKAGING_DIR}/help-for-man.sh ${QIS_PACKAGING_DIR}/qsalvage.h2m
    COMMENT "Writing the qsalvage man page with help2man"
    VERBATIM)
  list(APPEND QIS_MAN_PAGES ${QIS_MAN_DIR}/qsalvage.1.gz)
else()
  message(STATUS "help2man or gzip not found: the qsalvage man page is not made")
endif()

if(TARGET qsalvage-gui)
  install(TARGETS qsalvage-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${QIS_PACKAGING_DIR}/qsalvage-gui.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${QIS_PACKAGING_DIR}/qsalvage.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  if(QIS_GZIP)
    add_custom_command(
      OUTPUT ${QIS_MAN_DIR}/qsalvage-gui.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${QIS_MAN_DIR}
      COMMAND ${CMAKE_COMMAND} -E copy ${QIS_PACKAGING_DIR}/qsalvage-gui.1 ${QIS_MAN_DIR}/qsalvage-gui.1
      COMMAND ${QIS_GZIP} -9nf ${QIS_MAN_DIR}/qsalvage-gui.1
      DEPENDS ${QIS_PACKAGING_DIR}/qsalvage-gui.1
      COMMENT "Compressing the qsalvage-gui man page"
      VERBATIM)
    list(APPEND QIS_MAN_PAGES ${QIS_MAN_DIR}/qsalvage-gui.1.gz)
  endif()
endif()

if(QIS_MAN_PAGES)
  add_custom_target(man_pages ALL DEPENDS ${QIS_MAN_PAGES})
  install(FILES ${QIS_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The install itself, run from another folder with no signatures beside
# the program: what a user who installs from source gets. Needs no root.
if(QIS_BUILD_TESTS)
  add_test(NAME Install.RunsFromThePrefix
           COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/package-test.sh --install-only ${CMAKE_BINARY_DIR})
endif()
