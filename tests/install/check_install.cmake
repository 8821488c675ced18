# Installs the build into a staging folder, as a packager does, and checks what lands there: exactly the
# expected files, programs that run from there, manual pages without groff warnings, a valid desktop entry
# and AppStream file, icons of the right sizes, and a bash completion that completes.
#   cmake -DBUILD_DIR=<build> -DSTAGE=<folder> -DGUI=ON|OFF -P check_install.cmake
# A checking tool that is missing is reported and its check left out, except under CI (CI set), where it
# fails the test: `make deps` installs every one of them.
cmake_minimum_required(VERSION 3.22)
foreach(var BUILD_DIR STAGE GUI)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_install.cmake needs -D${var}=...")
  endif()
endforeach()

set(failures "")
macro(fail text)
  string(APPEND failures "\n  ${text}")
endmacro()

function(need_tool out name)
  find_program(${out} ${name})
  if(NOT ${out})
    if(DEFINED ENV{CI})
      message(SEND_ERROR "${name} is missing (make deps installs it)")
    else()
      message(STATUS "${name} is missing: its check is left out")
    endif()
  endif()
endfunction()

file(REMOVE_RECURSE ${STAGE})
set(prefix ${STAGE}/usr)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()

# --- the file list ------------------------------------------------------------
set(expected
  bin/ocelo-cli
  share/bash-completion/completions/ocelo-cli
  share/doc/ocelo/README.md
  share/doc/ocelo/copyright
  share/man/man1/ocelo-cli.1.gz)
set(sizes 16 24 32 48 64 128 256)
if(GUI)
  list(APPEND expected
    bin/ocelo
    share/applications/org.ocelo.Ocelo.desktop
    share/icons/hicolor/scalable/apps/ocelo.svg
    share/man/man1/ocelo.1.gz
    share/metainfo/org.ocelo.Ocelo.metainfo.xml)
  foreach(size IN LISTS sizes)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/ocelo.png)
  endforeach()
endif()
list(SORT expected)
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*)
list(SORT installed)
if(NOT installed STREQUAL expected)
  set(missing ${expected})
  list(REMOVE_ITEM missing ${installed})
  set(extra ${installed})
  list(REMOVE_ITEM extra ${expected})
  fail("installed files differ; missing: [${missing}] unexpected: [${extra}]")
endif()

# --- the programs run from the stage -------------------------------------------
set(programs ocelo-cli)
if(GUI)
  list(APPEND programs ocelo)
endif()
foreach(program IN LISTS programs)
  execute_process(COMMAND test -x ${prefix}/bin/${program} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    fail("bin/${program} is not executable")
  endif()
endforeach()
execute_process(COMMAND ${prefix}/bin/ocelo-cli --version RESULT_VARIABLE result OUTPUT_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output MATCHES "^ocelo-cli [0-9]+\\.[0-9]+")
  fail("bin/ocelo-cli --version gave ${result}: ${output}")
endif()

# --- manual pages: no groff warning, and they open ------------------------------
need_tool(MAN man)
if(MAN)
  set(pages ocelo-cli)
  if(GUI)
    list(APPEND pages ocelo)
  endif()
  foreach(page IN LISTS pages)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANWIDTH=80
                            ${MAN} --warnings -l ${prefix}/share/man/man1/${page}.1.gz
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE warnings)
    string(TOUPPER "${page}" title)
    if(NOT result EQUAL 0 OR NOT warnings STREQUAL "" OR NOT output MATCHES "^${title}\\(1\\)")
      fail("man --warnings -l ${page}.1.gz gave ${result}: ${warnings}")
    endif()
  endforeach()
endif()

if(GUI)
  # --- the desktop entry and the AppStream file ----------------------------------
  need_tool(DESKTOP_FILE_VALIDATE desktop-file-validate)
  if(DESKTOP_FILE_VALIDATE)
    execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${prefix}/share/applications/org.ocelo.Ocelo.desktop
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0 OR NOT output STREQUAL "")
      fail("desktop-file-validate gave ${result}: ${output}")
    endif()
  endif()
  need_tool(APPSTREAMCLI appstreamcli)
  if(APPSTREAMCLI)
    execute_process(COMMAND ${APPSTREAMCLI} validate --no-net ${prefix}/share/metainfo/org.ocelo.Ocelo.metainfo.xml
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
      fail("appstreamcli validate gave ${result}: ${output}")
    endif()
  endif()
  # The entry starts the installed program and names the installed icon.
  file(READ ${prefix}/share/applications/org.ocelo.Ocelo.desktop entry)
  if(NOT entry MATCHES "\nExec=ocelo\n" OR NOT entry MATCHES "\nIcon=ocelo\n")
    fail("the desktop entry does not start ocelo with the icon ocelo")
  endif()
  # --- each PNG has its folder's size: a PNG's signature, then its width and height at bytes 16..23 --
  foreach(size IN LISTS sizes)
    set(png ${prefix}/share/icons/hicolor/${size}x${size}/apps/ocelo.png)
    if(EXISTS ${png})
      file(READ ${png} header LIMIT 24 HEX)
      math(EXPR hex "${size}" OUTPUT_FORMAT HEXADECIMAL)
      string(REGEX REPLACE "^0x" "0000000" hex "${hex}")
      string(REGEX REPLACE "^0*(........)$" "\\1" hex "${hex}")
      string(SUBSTRING "${header}" 0 16 signature)
      string(SUBSTRING "${header}" 32 16 width_height)
      if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT width_height STREQUAL "${hex}${hex}")
        fail("${size}x${size}/apps/ocelo.png is not a ${size} x ${size} PNG")
      endif()
    endif()
  endforeach()
endif()

# --- bash completion completes commands, options and targets ----------------------
set(completion_script /usr/share/bash-completion/bash_completion)
if(NOT EXISTS ${completion_script})
  if(DEFINED ENV{CI})
    fail("${completion_script} is missing (make deps installs bash-completion)")
  else()
    message(STATUS "bash-completion is missing: the completion check is left out")
  endif()
else()
  # Each case: the words typed so far, then what must be among the answers.
  set(cases
    "ocelo-cli co|convert"
    "ocelo-cli convert --dr|--dry-run"
    "ocelo-cli convert --to ut|utf-16le"
    "ocelo-cli convert --to=sh|shift_jis"
    "ocelo-cli detect --j|--json")
  foreach(case IN LISTS cases)
    string(REPLACE "|" ";" parts "${case}")
    list(GET parts 0 line)
    list(GET parts 1 want)
    execute_process(
      COMMAND bash -c [=[
        source "$1"; source "$2"
        COMP_LINE=$3; COMP_POINT=${#COMP_LINE}
        read -ra COMP_WORDS <<< "$COMP_LINE"
        [[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')
        COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
        _ocelo_cli ocelo-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
        printf '%s\n' "${COMPREPLY[@]}"]=]
        _ ${completion_script} ${prefix}/share/bash-completion/completions/ocelo-cli "${line}"
      RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    string(REPLACE "\n" ";" answers "${output}")
    if(NOT want IN_LIST answers)
      fail("completing '${line}' gave [${answers}] ${errors}, not ${want}")
    endif()
  endforeach()
endif()

if(failures)
  message(FATAL_ERROR "The staged install in ${STAGE} is wrong:${failures}")
endif()
message(STATUS "The staged install in ${STAGE} is complete")
