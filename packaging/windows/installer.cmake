# cmake -DEXPECTED=<expected.cmake> -DPREFIX=<Wine prefix> -DACTION=install|running|uninstall -P installer.cmake
#   install    in a fresh prefix whose user already has a PATH, the installer
#              with /S: the installed files (those of the zip and
#              Uninstall.exe), the Start-menu shortcut of each window (the
#              servo tool, the bench), the uninstall entry,
#              the install folder once at the end of the user's PATH; then
#              installed again over itself, with the same result
#   running    while servo-tool.exe runs from the install folder, the
#              uninstaller (in place) and the installer with /S stop with exit
#              code 2 and change nothing; the window then closes; the same
#              with servo-bench.exe
#   uninstall  Uninstall.exe /S: C:\ as before installing (but for the
#              temporary folders), the Start-menu shortcuts and the registry
#              keys gone, the user's PATH as it was; then, with the install folder on the user's PATH
#              already, installing and uninstalling (in place, which waits
#              and gives the exit code, and leaves Uninstall.exe and the
#              folder to the next start) leave that PATH alone
include(${EXPECTED})
include(${CMAKE_CURRENT_LIST_DIR}/../../tests/wine/wine-steps.cmake)
set(ENV{WINEPREFIX} "${PREFIX}")

# reg_query(<variable> <key>): the key's values, empty when there is no key.
function(reg_query variable key)
    execute_process(COMMAND wine reg query "${key}" OUTPUT_VARIABLE out ERROR_QUIET RESULT_VARIABLE rc TIMEOUT 120)
    if(NOT rc EQUAL 0)
        set(out "")
    endif()
    string(REPLACE "\r" "" out "${out}")
    set(${variable} "${out}" PARENT_SCOPE)
endfunction()

# The user's PATH before installing, with a variable to be kept unexpanded.
set(USER_PATH [[C:\Tools;%USERPROFILE%\bin]])
set(uninstaller "${PREFIX}/drive_c/${INSTALLED}/Uninstall.exe")

# set_user_path(<value>): HKCU\Environment Path, as Windows keeps it.
function(set_user_path value)
    execute_process(COMMAND wine reg add [[HKCU\Environment]] /v Path /t REG_EXPAND_SZ /d "${value}" /f
                    OUTPUT_QUIET ERROR_QUIET RESULT_VARIABLE rc TIMEOUT 120)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "cannot set the user's PATH")
    endif()
endfunction()

# expect_user_path(<value> <when>): HKCU\Environment Path is that value, of
# type REG_EXPAND_SZ.
function(expect_user_path value when)
    reg_query(entry [[HKCU\Environment]])
    string(REGEX MATCH "\n +Path +(REG_[A-Z_]+) +([^\n]*)" found "${entry}")
    if(NOT CMAKE_MATCH_1 STREQUAL "REG_EXPAND_SZ" OR NOT CMAKE_MATCH_2 STREQUAL value)
        message(FATAL_ERROR "${when}, the user's PATH is \"${CMAKE_MATCH_2}\" (${CMAKE_MATCH_1}), "
                            "not \"${value}\" (REG_EXPAND_SZ)")
    endif()
    message(STATUS "${when}, the user's PATH is ${value}")
endfunction()

# uninstall_in_place(<variable>): Uninstall.exe /S _?=<install folder>, the
# way that waits for the uninstaller and gives its exit code. The folder
# goes last and unquoted, as separate words (Wine quotes an argument with
# spaces, and the uninstaller then reads no _?= and runs from a copy).
function(uninstall_in_place variable)
    string(REPLACE " " ";" words "_?=${INSTALLED_WINDOWS}")
    execute_process(COMMAND wine "${uninstaller}" /S ${words} RESULT_VARIABLE rc
                    OUTPUT_QUIET ERROR_QUIET TIMEOUT 300)
    set(${variable} ${rc} PARENT_SCOPE)
endfunction()

# expect_uninstalled(): C:\ as before installing, the Start-menu shortcuts
# and the registry keys gone.
function(expect_uninstalled)
    foreach(shortcut ${SHORTCUTS})
        string(REGEX REPLACE "^.*[|]" "" name "${shortcut}")
        if(EXISTS "${PREFIX}/drive_c/${START_MENU}/${name}.lnk")
            message(FATAL_ERROR "the Start-menu shortcut ${name} is left after uninstalling")
        endif()
    endforeach()
    foreach(key "${UNINSTALL_KEY}" "${VENDOR_KEY}")
        reg_query(entry "${key}")
        if(entry)
            message(FATAL_ERROR "${key} is left after uninstalling")
        endif()
    endforeach()
    file(READ "${PREFIX}.before" before)
    wine_drive_c(after "${PREFIX}")
    if(NOT before STREQUAL after)
        set(left ${after})
        list(REMOVE_ITEM left ${before})
        set(taken ${before})
        list(REMOVE_ITEM taken ${after})
        message(FATAL_ERROR "uninstalling left ${left} and took away ${taken}")
    endif()
    message(STATUS "uninstalled: C:\\ is as before installing, the registry keys are gone")
endfunction()

if(ACTION STREQUAL "install")
    wine_stop("${PREFIX}")
    wine_fresh_prefix("${PREFIX}")
    wine_drive_c(before "${PREFIX}")
    file(WRITE "${PREFIX}.before" "${before}")
    set_user_path("${USER_PATH}")
    wine_run(wine "${SETUP}" /S)
    wine_run(wineserver -w)

    expect_files("${INSTALLED_WINDOWS}" "${PREFIX}/drive_c/${INSTALLED}" ${FILES} Uninstall.exe)
    # Each window's shortcut starts it from the install folder.
    foreach(shortcut ${SHORTCUTS})
        string(REPLACE "|" ";" shortcut "${shortcut}")
        list(GET shortcut 0 program)
        list(GET shortcut 1 name)
        set(link "${PREFIX}/drive_c/${START_MENU}/${name}.lnk")
        if(NOT EXISTS "${link}")
            message(FATAL_ERROR "no Start-menu shortcut C:/${START_MENU}/${name}.lnk")
        endif()
        file(STRINGS "${link}" target REGEX "servo-[a-z]+\\.exe")
        string(FIND "${target}" "${INSTALLED_WINDOWS}\\${program}.exe" at)
        if(at LESS 0)
            message(FATAL_ERROR "the Start-menu shortcut ${name} does not start ${INSTALLED_WINDOWS}\\${program}.exe")
        endif()
        message(STATUS "the Start-menu shortcut ${name} starts ${program}.exe")
    endforeach()
    reg_query(entry "${UNINSTALL_KEY}")
    message(STATUS "${entry}")
    foreach(pair "DisplayName|${DISPLAY_NAME}" "DisplayVersion|${VERSION}"
                 "UninstallString|\"${INSTALLED_WINDOWS}\\Uninstall.exe\""
                 "DisplayIcon|${INSTALLED_WINDOWS}\\servo-tool.exe")
        string(REPLACE "|" ";" pair "${pair}")
        list(GET pair 0 name)
        list(GET pair 1 expected)
        string(REGEX MATCH "\n *${name} +REG_SZ +([^\n]*)" found "${entry}")
        if(NOT CMAKE_MATCH_1 STREQUAL expected)
            message(FATAL_ERROR "the uninstall entry has ${name} \"${CMAKE_MATCH_1}\", not \"${expected}\"")
        endif()
    endforeach()
    expect_user_path("${USER_PATH};${INSTALLED_WINDOWS}" "installed")

    # Over itself: the installed version is uninstalled first, its PATH entry
    # with it.
    wine_run(wine "${SETUP}" /S)
    wine_run(wineserver -w)
    expect_files("${INSTALLED_WINDOWS}" "${PREFIX}/drive_c/${INSTALLED}" ${FILES} Uninstall.exe)
    expect_user_path("${USER_PATH};${INSTALLED_WINDOWS}" "installed again")
    wine_stop("${PREFIX}")
elseif(ACTION STREQUAL "running")
    foreach(program servo-tool.exe servo-bench.exe)
        # The window on the display of the tests, where it takes WM_CLOSE.
        wine_run(wine start /unix "${PREFIX}/drive_c/${INSTALLED}/${program}")
        # start.exe may return before the program is listed.
        string(REPLACE "." "\\." listed "${program}")
        foreach(try RANGE 30)
            execute_process(COMMAND wine tasklist OUTPUT_VARIABLE tasks ERROR_QUIET TIMEOUT 60)
            if(tasks MATCHES "${listed}")
                break()
            endif()
            execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1)
        endforeach()
        if(NOT tasks MATCHES "${listed}")
            message(FATAL_ERROR "${program} did not start")
        endif()
        # Both give up as on Cancel, with exit code 2.
        uninstall_in_place(rc)
        if(NOT rc EQUAL 2)
            message(FATAL_ERROR "Uninstall.exe /S returned ${rc}, not 2, while ${program} runs")
        endif()
        execute_process(COMMAND wine "${SETUP}" /S RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET TIMEOUT 300)
        if(NOT rc EQUAL 2)
            message(FATAL_ERROR "the installer returned ${rc}, not 2, while ${program} runs")
        endif()
        message(STATUS "with ${program} running, the uninstaller and the installer stopped")
        expect_files("${INSTALLED_WINDOWS}" "${PREFIX}/drive_c/${INSTALLED}" ${FILES} Uninstall.exe)
        reg_query(entry "${UNINSTALL_KEY}")
        if(NOT entry)
            message(FATAL_ERROR "the uninstall entry is gone")
        endif()
        expect_user_path("${USER_PATH};${INSTALLED_WINDOWS}" "with ${program} running")
        # Closed as by the user (WM_CLOSE), once its window is there: until the
        # prefix has no program left.
        foreach(try RANGE 20)
            execute_process(COMMAND wine taskkill /im ${program} OUTPUT_QUIET ERROR_QUIET TIMEOUT 60)
            execute_process(COMMAND wineserver -w RESULT_VARIABLE rc TIMEOUT 15)
            if(rc EQUAL 0)
                message(STATUS "${program} closed, after ${try} more WM_CLOSE")
                break()
            endif()
        endforeach()
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "${program} did not close")
        endif()
    endforeach()
elseif(ACTION STREQUAL "uninstall")
    # The uninstaller copies itself to the temporary folder, starts the copy
    # and returns: wait until every program of the prefix has ended.
    wine_run(wine "${uninstaller}" /S)
    wine_run(wineserver -w)
    expect_uninstalled()
    expect_user_path("${USER_PATH}" "uninstalled")

    # The install folder on the user's PATH already (with a trailing "\"):
    # neither the installer nor the uninstaller (run in place) touch it.
    set(own "${INSTALLED_WINDOWS}\\;${USER_PATH}")
    set_user_path("${own}")
    wine_run(wine "${SETUP}" /S)
    wine_run(wineserver -w)
    expect_user_path("${own}" "installed with the folder on PATH already")
    uninstall_in_place(rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "Uninstall.exe /S _?=${INSTALLED_WINDOWS} returned ${rc}")
    endif()
    # Uninstall.exe and the folder go at the next start.
    wine_run(wineserver -w)
    expect_files("${INSTALLED_WINDOWS} before the next start" "${PREFIX}/drive_c/${INSTALLED}" Uninstall.exe)
    wine_run(wineboot -r)
    wine_run(wineserver -w)
    expect_uninstalled()
    expect_user_path("${own}" "uninstalled with the folder on PATH already")
    wine_stop("${PREFIX}")
endif()
