# What `cmake --install` puts on a Linux system: the two front ends, their
# manual pages and bash completions, and the README for Linux users. Nothing
# of the tests, stand-ins or benchmarks is installed.
include(GNUInstallDirs)

install(TARGETS vornak-cli lirrow-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

foreach(page vornak/cli/vornak-cli.1 lirrow/cli/lirrow-cli.1)
  get_filename_component(name ${page} NAME)
  set(VERSION ${PROJECT_VERSION})
  configure_file(${page} ${CMAKE_BINARY_DIR}/man/${name} @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/man/${name} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

foreach(program vornak-cli lirrow-cli)
  string(REGEX REPLACE "-cli$" "" product ${program})
  install(FILES ${product}/cli/${program}.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
endforeach()

# The Linux users' READMEs of the two front ends.
foreach(program vornak-cli lirrow-cli)
  string(REGEX REPLACE "-cli$" "" product ${program})
  install(FILES ${PROJECT_SOURCE_DIR}/${product}/cli/README.md
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vornak-lirrow RENAME README.${program}.md)
endforeach()
