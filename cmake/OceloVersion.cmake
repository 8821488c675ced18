# Embeds a version block (file description, version, copyright, original file name, product name and
# version; translation 0411/04B0) in an executable: a source generated from src/version/version_block.cpp.in
# places it in the ELF section ".ocelo_version", where VersionInfo reads it.
set(OCELO_COPYRIGHT "Copyright (C) 2026 the Ocelo developers" CACHE STRING "LegalCopyright of the version blocks")

# On Windows the same strings go into a VERSIONINFO resource (src/version/version_resource.rc.in), compiled
# with windres, where GetFileVersionInfoW finds them.
if(WIN32)
  enable_language(RC)
endif()

# Text for a string of a resource script: a double quote is doubled there.
function(_ocelo_rc_literal out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text for a UTF-16 string literal in the generated C++ source.
function(_ocelo_literal out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(ocelo_embed_version target original_filename description)
  set(parts ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} ${PROJECT_VERSION_TWEAK})
  set(numbers)
  foreach(i RANGE 0 3)
    list(LENGTH parts count)
    set(number 0)
    if(i LESS count)
      list(GET parts ${i} number)
      if(number STREQUAL "")
        set(number 0)
      endif()
    endif()
    list(APPEND numbers ${number})
  endforeach()
  # Written as a version resource writes it: "1, 0, 0, 0".
  list(JOIN numbers ", " version)

  _ocelo_literal(OCELO_VB_DESCRIPTION "${description}")
  _ocelo_literal(OCELO_VB_ORIGINAL_FILENAME "${original_filename}")
  _ocelo_literal(OCELO_VB_INTERNAL_NAME "${target}")
  _ocelo_literal(OCELO_VB_COPYRIGHT "${OCELO_COPYRIGHT}")
  _ocelo_literal(OCELO_VB_PRODUCT_NAME "${PROJECT_NAME}")
  set(OCELO_VB_FILE_VERSION "${version}")
  set(OCELO_VB_PRODUCT_VERSION "${version}")
  if(WIN32)
    _ocelo_rc_literal(OCELO_VB_DESCRIPTION "${description}")
    _ocelo_rc_literal(OCELO_VB_ORIGINAL_FILENAME "${original_filename}")
    _ocelo_rc_literal(OCELO_VB_INTERNAL_NAME "${target}")
    _ocelo_rc_literal(OCELO_VB_COPYRIGHT "${OCELO_COPYRIGHT}")
    _ocelo_rc_literal(OCELO_VB_PRODUCT_NAME "${PROJECT_NAME}")
    set(generated ${CMAKE_BINARY_DIR}/version_blocks/${target}_version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/src/version/version_resource.rc.in ${generated} @ONLY)
  else()
    set(generated ${CMAKE_BINARY_DIR}/version_blocks/${target}_version_block.cpp)
    configure_file(${PROJECT_SOURCE_DIR}/src/version/version_block.cpp.in ${generated} @ONLY)
  endif()
  target_sources(${target} PRIVATE ${generated})
endfunction()
