# What `cmake --install` puts on a Linux system: the two front ends, and for
# each its manual page, bash completion and README for Linux users, all kept
# in its own folder (vornak/cli, lirrow/cli). Nothing of the tests, stand-ins
# or benchmarks is installed.
include(GNUInstallDirs)

install(TARGETS vornak-cli lirrow-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(VERSION ${PROJECT_VERSION})  # in the manual pages
foreach(program vornak-cli lirrow-cli)
  string(REGEX REPLACE "-cli$" "" product ${program})
  set(folder ${PROJECT_SOURCE_DIR}/${product}/cli)
  configure_file(${folder}/${program}.1 ${CMAKE_BINARY_DIR}/man/${program}.1 @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${folder}/${program}.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
  install(FILES ${folder}/README.md
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vornak-lirrow RENAME README.${program}.md)
endforeach()
