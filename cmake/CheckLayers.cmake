# Fails when a source file includes a header of a layer above its own. Run by the build (before any layer
# compiles) and by the test suite:
#   cmake -DSOURCE_DIR=<folder holding the layer folders> -P CheckLayers.cmake
# A file may include headers of its own folder and of every layer listed before its own; folders named
# together below ("encoding,version") are peers and may not include each other. Folders of no layer
# (tests/support, generated code) are not checked. "gui" is both dialogs, gui/qt and gui/win32, each on app.
set(OCELO_LAYERS
  "base"
  "platform"
  "util"
  "encoding,version"
  "settings"
  "web"
  "app"
  "gui,cli")

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "CheckLayers.cmake needs -DSOURCE_DIR=<src folder>")
endif()

set(rank 0)
foreach(line IN LISTS OCELO_LAYERS)
  string(REPLACE "," ";" peers "${line}")
  foreach(layer IN LISTS peers)
    set(_rank_${layer} ${rank})
  endforeach()
  math(EXPR rank "${rank} + 1")
endforeach()

file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp ${SOURCE_DIR}/*.inc)
set(violations "")
foreach(file IN LISTS files)
  string(REGEX MATCH "^[^/]+" layer "${file}")
  if(NOT DEFINED _rank_${layer})
    continue()
  endif()
  file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
  foreach(include IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*$" "\\1" target "${include}")
    if(target STREQUAL layer OR NOT DEFINED _rank_${target})
      continue()
    endif()
    if(NOT _rank_${target} LESS _rank_${layer})
      string(STRIP "${include}" include)
      string(APPEND violations "\n  ${file}: ${include} (${layer} may not include ${target})")
    endif()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Includes that run up the layers:${violations}")
endif()
