# Steps the scripts run by CTest in a Windows build use to drive Wine.

# wine_run(<command> [args...]): runs a Wine program (in $WINEPREFIX), fails
# the script when it fails. Its output goes to a file, not a pipe: services
# and servers it starts keep what it inherited open long after it ends.
function(wine_run)
    set(log "$ENV{WINEPREFIX}.log")
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_FILE "${log}" ERROR_FILE "${log}" TIMEOUT 300)
    if(NOT rc EQUAL 0)
        file(READ "${log}" out)
        message(FATAL_ERROR "${ARGN}: ${rc}\n${out}")
    endif()
endfunction()

# Ends what runs in a prefix and waits until its wineserver is gone.
function(wine_stop prefix)
    foreach(option -k -w)
        execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${prefix} wineserver ${option}
                        OUTPUT_FILE /dev/null ERROR_FILE /dev/null TIMEOUT 120)
    endforeach()
endfunction()

# Makes a new prefix in place of any old one.
function(wine_fresh_prefix prefix)
    file(REMOVE_RECURSE "${prefix}")
    set(ENV{WINEPREFIX} "${prefix}")
    wine_run(wineboot -i)
endfunction()

# wine_drive_c(<variable> <prefix>): everything below C:\ but the temporary
# folders (an NSIS uninstaller runs from a copy of itself there, which
# Windows removes at the next start) and the driver store (where Wine puts
# the drivers of the display's input devices once a window has shown).
function(wine_drive_c variable prefix)
    file(GLOB_RECURSE found LIST_DIRECTORIES true RELATIVE "${prefix}/drive_c" "${prefix}/drive_c/*")
    list(FILTER found EXCLUDE REGEX "^users/[^/]+/(AppData/Local/)?Temp/|^windows/temp/|^windows/system32/driverstore/")
    list(SORT found)
    set(${variable} "${found}" PARENT_SCOPE)
endfunction()

# expect_files(<what> <folder> <expected files...>): the files below folder
# are exactly those, or the script fails naming the difference.
function(expect_files what folder)
    file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE "${folder}" "${folder}/*")
    set(missing ${ARGN})
    set(extra ${found})
    if(found)
        list(REMOVE_ITEM missing ${found})
        list(REMOVE_ITEM extra ${ARGN})
    endif()
    if(missing OR extra)
        message(FATAL_ERROR "${what} does not hold what it should: missing ${missing}; not expected ${extra}")
    endif()
    list(LENGTH found count)
    message(STATUS "${what}: ${count} files, as expected")
endfunction()
