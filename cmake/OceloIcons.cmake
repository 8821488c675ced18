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
