# thermometer_qt_notices(SOURCES OUTPUT): writes to OUTPUT the notices of the third-party code that
# Qt compiles into the DLLs and plugins the Windows package carries, from the attribution files
# (qt_attribution.json) of the qtbase sources at SOURCES: for each part its name, version,
# copyright, licence and licence text. The parts are those this build of Qt compiles for Windows
# with the features scripts/test-windows configures (no network, SQL, OpenGL, Vulkan, JPEG).

set(_thermometer_qt_parts
    3rdparty/blake2 3rdparty/D3D12MemoryAllocator 3rdparty/double-conversion 3rdparty/easing
    3rdparty/freetype 3rdparty/harfbuzz-ng 3rdparty/icc 3rdparty/libpng 3rdparty/md4
    3rdparty/md4c 3rdparty/md5 3rdparty/pcre2 3rdparty/rfc6234 3rdparty/sha1 3rdparty/sha3
    3rdparty/siphash 3rdparty/tinycbor 3rdparty/zlib corelib/mimetypes/3rdparty corelib/text
    gui/painting gui/rhi gui/text)

# The member NAME of the JSON object ENTRY, a list's items one to a line; empty if absent.
function(_thermometer_json_text entry name result)
    string(JSON value ERROR_VARIABLE missing GET "${entry}" "${name}")
    string(JSON type ERROR_VARIABLE missing TYPE "${entry}" "${name}")
    if(missing)
        set(value "")
    elseif(type STREQUAL "ARRAY")
        string(JSON count LENGTH "${entry}" "${name}")
        set(lines "")
        math(EXPR last "${count} - 1")
        foreach(i RANGE ${last})
            string(JSON item GET "${entry}" "${name}" ${i})
            list(APPEND lines "${item}")
        endforeach()
        list(JOIN lines "\n" value)
    endif()
    set(${result} "${value}" PARENT_SCOPE)
endfunction()

function(thermometer_qt_notices sources output)
    set(text "Third-party code in Qt's DLLs and plugins, as Qt's attribution files list it.\n")
    foreach(part IN LISTS _thermometer_qt_parts)
        set(dir "${sources}/src/${part}")
        file(READ "${dir}/qt_attribution.json" json)
        # Some descriptions run over lines, which JSON strings may not.
        string(REPLACE "\n" " " json "${json}")
        string(JSON type TYPE "${json}")
        if(NOT type STREQUAL "ARRAY")
            set(json "[${json}]")
        endif()
        string(JSON count LENGTH "${json}")
        math(EXPR last "${count} - 1")
        foreach(i RANGE ${last})
            string(JSON entry GET "${json}" ${i})
            foreach(member Name Version License LicenseId Copyright LicenseFile LicenseFiles)
                _thermometer_json_text("${entry}" ${member} ${member})
            endforeach()
            string(STRIP "${Name} ${Version}" title)
            string(APPEND text "\n\n==== ${title}\nLicence: ${License} (${LicenseId})\n${Copyright}\n")
            foreach(file IN LISTS LicenseFile LicenseFiles)
                file(READ "${dir}/${file}" licence)
                string(APPEND text "\n${licence}")
            endforeach()
            if(LicenseFile STREQUAL "" AND LicenseFiles STREQUAL "")
                # No text of its own: the standard one of its licence.
                string(REGEX MATCHALL "[A-Za-z0-9.+-]+" ids "${LicenseId}")
                list(REMOVE_ITEM ids AND OR WITH)
                foreach(id IN LISTS ids)
                    if(EXISTS "${sources}/LICENSES/${id}.txt")
                        file(READ "${sources}/LICENSES/${id}.txt" licence)
                        string(APPEND text "\n${licence}")
                    endif()
                endforeach()
            endif()
        endforeach()
    endforeach()
    file(WRITE "${output}" "${text}")
endfunction()
