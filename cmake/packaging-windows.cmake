# The Windows installer and zip: cpack in a build directory made with Qt for Windows
# (scripts/package-windows does it all). They unpack to a folder that runs as it is:
#   bin/thermometer.exe, beside it the Qt and MinGW DLLs it loads, and Qt's plugins in
#   bin/platforms/ and bin/styles/, where Qt looks for them beside the executable;
#   LICENSE.txt, the program's; licenses/, the texts of what it carries and where Qt's sources are.

set(THERMOMETER_QTBASE_SOURCES "" CACHE PATH
    "qtbase sources the program's Qt was built from (at least LICENSES/ and the attributions)")

# Windows' own DLLs are not carried: they are what the search below finds in none of these
# directories. Qt's DLLs are in its bin/; MinGW's runtime where the compiler finds it.
set(_search_dirs "$<TARGET_FILE_DIR:Qt6::Core>")
foreach(runtime libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE _runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${_runtime}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not find MinGW's ${runtime}")
    endif()
    get_filename_component(_runtime "${_runtime}" REALPATH)
    get_filename_component(_dir "${_runtime}" DIRECTORY)
    list(APPEND _search_dirs "${_dir}")
    list(APPEND _runtime_files "${_runtime}")
endforeach()

if(NOT CMAKE_OBJDUMP)
    find_program(CMAKE_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
endif()

# Qt's plugins, from its own targets: the Windows platform and the styles that Qt Widgets offers.
set(_plugins Qt6::QWindowsIntegrationPlugin)
get_target_property(_widgets_plugins Qt6::Widgets QT_PLUGINS)
foreach(name IN LISTS _widgets_plugins)
    if(TARGET Qt6::${name})
        get_target_property(_type Qt6::${name} QT_PLUGIN_TYPE)
        if(_type STREQUAL "styles")
            list(APPEND _plugins Qt6::${name})
        endif()
    endif()
endforeach()
set(_plugin_files)
foreach(plugin IN LISTS _plugins)
    get_target_property(_type ${plugin} QT_PLUGIN_TYPE)
    install(FILES "$<TARGET_FILE:${plugin}>" DESTINATION ${CMAKE_INSTALL_BINDIR}/${_type})
    list(APPEND _plugin_files "$<TARGET_FILE:${plugin}>")
endforeach()
message(STATUS "Qt plugins in the Windows package: ${_plugins}")

# The DLLs that the program and its plugins load, found from what they import; stripped with
# the plugins, which Qt installs with their symbols.
install(CODE "
set(thermometer_exe \"$<TARGET_FILE:thermometer>\")
set(thermometer_plugins \"${_plugin_files}\")
set(thermometer_dll_dirs \"${_search_dirs}\")
set(thermometer_dll_links \"${CMAKE_CURRENT_BINARY_DIR}/windows-dll-search\")
set(thermometer_bindir \"${CMAKE_INSTALL_BINDIR}\")
set(thermometer_objdump \"${CMAKE_OBJDUMP}\")
set(thermometer_strip \"${CMAKE_STRIP}\")
")
install(SCRIPT "${CMAKE_CURRENT_LIST_DIR}/windows-runtime-dlls.cmake")

# Text files with Windows line ends, so that any Windows editor shows them as lines.
function(thermometer_windows_text source destination)
    file(READ "${source}" _text)
    string(REPLACE "\r\n" "\n" _text "${_text}")
    string(REPLACE "\n" "\r\n" _text "${_text}")
    file(WRITE "${destination}" "${_text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
endfunction()

set(_texts "${CMAKE_CURRENT_BINARY_DIR}/windows-texts")
thermometer_windows_text("${PROJECT_SOURCE_DIR}/LICENSE" "${_texts}/LICENSE.txt")
install(FILES "${_texts}/LICENSE.txt" DESTINATION .)

# Qt is carried under the LGPL 3: its licence texts, which Qt it is and where its sources are,
# and the notices of the third-party code compiled into it.
if(THERMOMETER_QTBASE_SOURCES STREQUAL "")
    # The program builds and its tests run without them; a package must not be made.
    install(CODE "message(FATAL_ERROR
        \"A Windows package needs Qt's licence texts: configure with \"
        \"-DTHERMOMETER_QTBASE_SOURCES=<qtbase sources> (scripts/package-windows does)\")")
else()
    foreach(text LGPL-3.0-only GPL-3.0-only GPL-2.0-only)
        set(_file "${THERMOMETER_QTBASE_SOURCES}/LICENSES/${text}.txt")
        if(NOT EXISTS "${_file}")
            message(FATAL_ERROR "No ${_file} (THERMOMETER_QTBASE_SOURCES)")
        endif()
        thermometer_windows_text("${_file}" "${_texts}/licenses/${text}.txt")
    endforeach()
    include("${CMAKE_CURRENT_LIST_DIR}/qt-notices.cmake")
    thermometer_qt_notices("${THERMOMETER_QTBASE_SOURCES}" "${_texts}/Qt-third-party.txt.lf")
    thermometer_windows_text("${_texts}/Qt-third-party.txt.lf"
                             "${_texts}/licenses/Qt-third-party.txt")
endif()
# The compiler as its Debian package names it where it can (Debian's MinGW GCC calls itself
# 14-posix, which CMake reads as 14.0.0).
string(REGEX MATCH "^[0-9]+" THERMOMETER_COMPILER "${CMAKE_CXX_COMPILER_VERSION}")
execute_process(COMMAND dpkg-query -W -f=\${Version} g++-mingw-w64-x86-64-posix
                OUTPUT_VARIABLE _package_version RESULT_VARIABLE _status ERROR_QUIET)
if(_status EQUAL 0 AND NOT _package_version STREQUAL "")
    string(APPEND THERMOMETER_COMPILER " (Debian's g++-mingw-w64-x86-64-posix ${_package_version})")
endif()
configure_file("${PROJECT_SOURCE_DIR}/data/windows/Qt.txt.in" "${_texts}/Qt.txt.lf" @ONLY)
thermometer_windows_text("${_texts}/Qt.txt.lf" "${_texts}/licenses/Qt.txt")

# MinGW's runtime DLLs: the notices of the Debian packages they come from.
find_program(_dpkg dpkg)
if(_dpkg)
    foreach(runtime IN LISTS _runtime_files)
        execute_process(COMMAND "${_dpkg}" -S "${runtime}" OUTPUT_VARIABLE _owner
                        RESULT_VARIABLE _status OUTPUT_STRIP_TRAILING_WHITESPACE)
        string(REGEX REPLACE ":.*" "" _owner "${_owner}")
        if(_status EQUAL 0 AND EXISTS "/usr/share/doc/${_owner}/copyright")
            get_filename_component(_name "${runtime}" NAME_WE)
            thermometer_windows_text("/usr/share/doc/${_owner}/copyright"
                                     "${_texts}/licenses/MinGW-${_name}.txt")
        endif()
    endforeach()
endif()
install(DIRECTORY "${_texts}/licenses/" DESTINATION licenses)

set(CPACK_PACKAGE_NAME Thermometer)
set(CPACK_PACKAGE_VENDOR "${THERMOMETER_VENDOR}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_FILE_NAME "thermometer-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Thermometer)
# One key for every version, so that installing a new one finds and removes the old one.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Thermometer)
set(CPACK_RESOURCE_FILE_LICENSE "${_texts}/LICENSE.txt")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR NSIS ZIP)

# The installer, from cmake/NSIS.template.in: for everyone or for the current user alone, a
# Start menu entry running bin\thermometer.exe, an uninstaller that Windows lists with the
# program's version, publisher, icon and size, and the licence page.
set(CPACK_MODULE_PATH "${CMAKE_CURRENT_LIST_DIR}")
set(CPACK_NSIS_DISPLAY_NAME Thermometer)
set(CPACK_NSIS_PACKAGE_NAME Thermometer)
set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
# Written unescaped into CPackConfig.cmake, where a single backslash would start an escape.
set(CPACK_THERMOMETER_PROGRAM "${CMAKE_INSTALL_BINDIR}\\\\thermometer.exe")
set(CPACK_THERMOMETER_ICON "${THERMOMETER_ICO}")
set(CPACK_THERMOMETER_COPYRIGHT "${THERMOMETER_COPYRIGHT}")

include(CPack)
