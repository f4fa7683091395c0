# The program's icon, made at build time from data/thermometer.svg so that no copy can drift from
# it: PNGs of several sizes, which a Qt resource gives the window, and on Windows a .ico of the
# sizes Explorer, the taskbar and the Start menu ask for, the executable's icon resource.
# rsvg-convert (librsvg2-bin) draws the SVG; icotool (icoutils) packs the .ico.

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

if(WIN32)
    find_program(THERMOMETER_ICOTOOL icotool REQUIRED)
    set(THERMOMETER_ICO "${THERMOMETER_ICON_DIR}/thermometer.ico")
    set(_images)
    foreach(size 16 24 32 48 64)
        list(APPEND _images "${THERMOMETER_ICON_DIR}/thermometer-${size}.png")
    endforeach()
    # The 256-pixel image stays a PNG inside the .ico (--raw), as Windows expects of that size.
    add_custom_command(OUTPUT "${THERMOMETER_ICO}"
        COMMAND "${THERMOMETER_ICOTOOL}" --create --output "${THERMOMETER_ICO}" ${_images}
                "--raw=${THERMOMETER_ICON_DIR}/thermometer-256.png"
        DEPENDS ${_images} "${THERMOMETER_ICON_DIR}/thermometer-256.png" VERBATIM)

    # The version details that Explorer's Details tab shows, from the project's one version and
    # the copyright line of LICENSE.
    file(STRINGS "${PROJECT_SOURCE_DIR}/LICENSE" THERMOMETER_COPYRIGHT REGEX "^Copyright "
         LIMIT_COUNT 1)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/LICENSE")
    if(THERMOMETER_COPYRIGHT STREQUAL "")
        message(FATAL_ERROR "LICENSE has no copyright line for the version resource")
    endif()
    set(_rc "${CMAKE_CURRENT_BINARY_DIR}/thermometer.rc")
    configure_file("${PROJECT_SOURCE_DIR}/data/windows/thermometer.rc.in" "${_rc}" @ONLY)
    # windres reads the .ico named in the .rc, which CMake cannot see.
    set_source_files_properties("${_rc}" PROPERTIES OBJECT_DEPENDS "${THERMOMETER_ICO}")
    # Linked into every build of the program, which takes the objects whole (an archive's
    # linker would drop them: nothing refers to a resource).
    add_library(thermometer_windows_resources OBJECT "${_rc}")
    set_target_properties(thermometer_windows_resources PROPERTIES AUTOMOC OFF)
    # The installer takes the same icon and copyright (this file is included from src/).
    set(THERMOMETER_ICO "${THERMOMETER_ICO}" PARENT_SCOPE)
    set(THERMOMETER_COPYRIGHT "${THERMOMETER_COPYRIGHT}" PARENT_SCOPE)
endif()

# One target makes the files before anything that uses them, so that no two make them at once.
add_custom_target(thermometer_icon DEPENDS ${THERMOMETER_ICON_PNGS} ${THERMOMETER_ICO})
if(WIN32)
    add_dependencies(thermometer_windows_resources thermometer_icon)
endif()
