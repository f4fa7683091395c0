# The program's icon, made at build time from data/thermometer.svg so that no copy can drift from
# it: PNGs of several sizes, which a Qt resource gives the window. rsvg-convert (librsvg2-bin)
# draws the SVG.

find_program(THERMOMETER_RSVG_CONVERT rsvg-convert REQUIRED)
set(_svg "${PROJECT_SOURCE_DIR}/data/thermometer.svg")
set(THERMOMETER_ICON_DIR "${CMAKE_CURRENT_BINARY_DIR}/icon")

# thermometer_icon_png(SIZE OUTPUT-VARIABLE): the icon drawn SIZE pixels square.
function(thermometer_icon_png size variable)
    set(png "${THERMOMETER_ICON_DIR}/thermometer-${size}.png")
    add_custom_command(OUTPUT "${png}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${THERMOMETER_ICON_DIR}"
        COMMAND "${THERMOMETER_RSVG_CONVERT}" --width=${size} --height=${size} --format=png
                --output "${png}" "${_svg}"
        DEPENDS "${_svg}" VERBATIM)
    set(${variable} "${png}" PARENT_SCOPE)
endfunction()

# The window's sizes: the .ico's, and 128 for large docks and switchers.
set(THERMOMETER_ICON_PNGS)
foreach(size 16 24 32 48 64 128 256)
    thermometer_icon_png(${size} png)
    list(APPEND THERMOMETER_ICON_PNGS "${png}")
endforeach()

# One target makes the files before anything that uses them, so that no two make them at once.
add_custom_target(thermometer_icon DEPENDS ${THERMOMETER_ICON_PNGS})
