# Run at install time (install(SCRIPT) from packaging-windows.cmake, which sets the variables):
# installs into bin/ the DLLs that the program and Qt's plugins load, and the DLLs those load,
# found from what each file imports. An import found in none of the search directories is
# Windows' own and stays out. Stripped, with the plugins, when the install strips.
#   thermometer_exe, thermometer_plugins  the files whose imports are followed
#   thermometer_dll_dirs                   where the DLLs to carry are (Qt's bin/, MinGW's)
#   thermometer_dll_links                  a directory of the build this script may fill
#   thermometer_bindir, thermometer_objdump, thermometer_strip

# Windows finds DLLs whatever the case of their names, and so CMake's search asks for
# lower-case names: a directory of links under both names stands in for the search directories.
file(REMOVE_RECURSE "${thermometer_dll_links}")
file(MAKE_DIRECTORY "${thermometer_dll_links}")
foreach(dir IN LISTS thermometer_dll_dirs)
    file(GLOB dlls LIST_DIRECTORIES false "${dir}/*.dll")
    foreach(dll IN LISTS dlls)
        get_filename_component(name "${dll}" NAME)
        string(TOLOWER "${name}" lower)
        foreach(link IN ITEMS "${name}" "${lower}")
            # The first directory listed wins, as in the search itself.
            if(NOT EXISTS "${thermometer_dll_links}/${link}")
                file(CREATE_LINK "${dll}" "${thermometer_dll_links}/${link}" SYMBOLIC)
            endif()
        endforeach()
    endforeach()
endforeach()

set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${thermometer_objdump}")
file(GET_RUNTIME_DEPENDENCIES
    EXECUTABLES "${thermometer_exe}"
    MODULES ${thermometer_plugins}
    DIRECTORIES "${thermometer_dll_links}"
    RESOLVED_DEPENDENCIES_VAR resolved
    UNRESOLVED_DEPENDENCIES_VAR unresolved)

# A Qt or MinGW DLL missing from its directory would make a package that cannot start.
foreach(name IN LISTS unresolved)
    if(name MATCHES "^([Qq][Tt]|lib)")
        message(FATAL_ERROR "${name} is imported but is in none of: ${thermometer_dll_dirs}")
    endif()
endforeach()
list(SORT unresolved CASE INSENSITIVE)
list(JOIN unresolved " " unresolved)
message(STATUS "Left to Windows: ${unresolved}")

set(destination "${CMAKE_INSTALL_PREFIX}/${thermometer_bindir}")
foreach(link IN LISTS resolved)
    file(REAL_PATH "${link}" dll)
    get_filename_component(name "${link}" NAME)
    file(INSTALL "${dll}" DESTINATION "${destination}" RENAME "${name}")
    list(APPEND carried "$ENV{DESTDIR}${destination}/${name}")
endforeach()
if(CMAKE_INSTALL_DO_STRIP)
    file(GLOB plugins "$ENV{DESTDIR}${destination}/*/*.dll")
    foreach(file IN LISTS carried plugins)
        execute_process(COMMAND "${thermometer_strip}" "${file}" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
endif()
