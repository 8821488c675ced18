# The program's icon: data/ocelo.svg is the one picture. Its PNG sizes are rendered from it at build time
# with rsvg-convert (Debian librsvg2-bin), so the desktop's icon theme and the dialog's window icon can never
# drift apart, and no binary image is kept in the tree beside its source.
set(OCELO_ICON_SVG ${PROJECT_SOURCE_DIR}/data/ocelo.svg)
# The hicolor sizes installed; the dialog's window icon takes all of them.
set(OCELO_ICON_SIZES 16 24 32 48 64 128 256)
set(OCELO_ICON_DIR ${CMAKE_BINARY_DIR}/icons)

# Renders the PNGs (icons/hicolor/<n>x<n>/apps/ocelo.png in the build folder) and builds them into
# `target` as the Qt resources :/ocelo/hicolor/<n>x<n>/apps/ocelo.png. Called where `target` is made,
# since a generated file is only made for targets of its own folder.
function(ocelo_add_icons target)
  find_program(OCELO_RSVG_CONVERT rsvg-convert)
  if(NOT OCELO_RSVG_CONVERT)
    message(FATAL_ERROR "rsvg-convert renders the icon (Debian: apt-get install librsvg2-bin, or make deps)")
  endif()
  set(pngs)
  foreach(size IN LISTS OCELO_ICON_SIZES)
    set(folder ${OCELO_ICON_DIR}/hicolor/${size}x${size}/apps)
    add_custom_command(OUTPUT ${folder}/ocelo.png
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
      COMMAND ${OCELO_RSVG_CONVERT} --width=${size} --height=${size} --output=${folder}/ocelo.png ${OCELO_ICON_SVG}
      DEPENDS ${OCELO_ICON_SVG}
      COMMENT "Rendering the ${size} px icon"
      VERBATIM)
    list(APPEND pngs ${folder}/ocelo.png)
  endforeach()
  qt_add_resources(${target} ocelo_icons PREFIX /ocelo BASE ${OCELO_ICON_DIR} FILES ${pngs})
endfunction()

# The Windows icon (ocelo.ico: 16 to 48 px, and 256 px kept as PNG inside it as Windows takes it), packed
# with icotool (Debian icoutils), for the dialog's resource and the installer. Made in the calling folder
# by the target ocelo_windows_icon; `out_var` gets its path, or nothing when a tool is missing (the
# programs and the installer are then built without it).
function(ocelo_windows_icon out_var)
  find_program(OCELO_RSVG_CONVERT rsvg-convert)
  find_program(OCELO_ICOTOOL icotool)
  if(NOT OCELO_RSVG_CONVERT OR NOT OCELO_ICOTOOL)
    message(STATUS "rsvg-convert or icotool missing: ocelo.exe and the installer are built without the icon")
    set(${out_var} "" PARENT_SCOPE)
    return()
  endif()
  set(ico ${CMAKE_CURRENT_BINARY_DIR}/ocelo.ico)
  set(pngs)
  set(arguments)
  foreach(size 16 24 32 48 256)
    set(png ${CMAKE_CURRENT_BINARY_DIR}/icon-win32/ocelo-${size}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icon-win32
      COMMAND ${OCELO_RSVG_CONVERT} --width=${size} --height=${size} --output=${png} ${OCELO_ICON_SVG}
      DEPENDS ${OCELO_ICON_SVG}
      VERBATIM)
    list(APPEND pngs ${png})
    if(size EQUAL 256)
      list(APPEND arguments --raw=${png})
    else()
      list(APPEND arguments ${png})
    endif()
  endforeach()
  add_custom_command(OUTPUT ${ico}
    COMMAND ${OCELO_ICOTOOL} -c -o ${ico} ${arguments}
    DEPENDS ${pngs}
    COMMENT "Making the Windows icon (ocelo.ico)"
    VERBATIM)
  add_custom_target(ocelo_windows_icon ALL DEPENDS ${ico})
  set(${out_var} ${ico} PARENT_SCOPE)
endfunction()
