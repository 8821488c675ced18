# Read by cpack once per generator (CPACK_PROJECT_CONFIG_FILE), before it installs and strips the programs.

# The installer is ocelo-windows-VERSION-setup.exe beside ocelo-windows-VERSION.zip.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()

# strip writes the time it runs into a program's PE header unless SOURCE_DATE_EPOCH names one: the time of
# the last commit (else of the top CMakeLists.txt) makes the ZIP's and the installer's programs the same
# bytes, and the same again in the next build of that source.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(_ocelo_source ${CMAKE_CURRENT_LIST_DIR}/../..)
  execute_process(COMMAND git -C ${_ocelo_source} log -1 --format=%ct
                  OUTPUT_VARIABLE _ocelo_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _ocelo_git)
  if(NOT _ocelo_git EQUAL 0 OR NOT _ocelo_epoch MATCHES "^[0-9]+$")
    file(TIMESTAMP ${_ocelo_source}/CMakeLists.txt _ocelo_epoch "%s" UTC)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${_ocelo_epoch})
endif()
