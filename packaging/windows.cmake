# Installing on Windows. `cmake --install` lays the four programs out the way
# windeployqt does, in one folder: the programs, the Qt DLLs they load and no
# others, the platform, style and JPEG plugins in their sub-folders, the
# compiler's runtime and a README.txt. `cpack` packs that folder into
# servo-tool-<version>-win64.zip and into the installer
# servo-tool-<version>-win64.exe (NSIS).

# Each program's resources: version information, and for the two windows
# their icons drawn by tools/draw-icons (`draw-icons --ico
# windows/servo-tool.ico`, the gear; `draw-icons --bench --ico
# windows/servo-bench.ico`, the bench's slots).
foreach(program "servo-tool|Servo Tool" "servo-bench|Servo Bench, programming servos on several programmers"
                "servo-cli|Servo Tool from the command line" "servo-sim|Simulated servo programmer")
    string(REPLACE "|" ";" program "${program}")
    list(GET program 0 SERVO_RC_NAME)
    list(GET program 1 SERVO_RC_DESCRIPTION)
    set(SERVO_RC_ICON)
    if(SERVO_RC_NAME MATCHES "^servo-(tool|bench)$")
        set(SERVO_RC_ICON "IDI_ICON1 ICON \"${CMAKE_CURRENT_LIST_DIR}/windows/${SERVO_RC_NAME}.ico\"")
    endif()
    configure_file(windows/program.rc.in ${SERVO_RC_NAME}.rc @ONLY)
    target_sources(${SERVO_RC_NAME} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${SERVO_RC_NAME}.rc)
endforeach()
if(CMAKE_VERSION VERSION_LESS 3.21)
    message(WARNING "The install rules for Windows need CMake 3.21 or later (to install Qt's plugins); "
                    "with an older CMake, deploy with windeployqt.")
    return()
endif()

set(SERVO_PROGRAMS servo-tool servo-bench servo-cli servo-sim)
set(SERVO_PLUGINS Qt5::QWindowsIntegrationPlugin Qt5::QWindowsVistaStylePlugin Qt5::QJpegPlugin)

install(TARGETS ${SERVO_PROGRAMS} RUNTIME DESTINATION .)
foreach(plugin ${SERVO_PLUGINS})
    get_target_property(type ${plugin} QT_PLUGIN_TYPE)
    install(IMPORTED_RUNTIME_ARTIFACTS ${plugin} LIBRARY DESTINATION ${type} RUNTIME DESTINATION ${type})
endforeach()

# Which DLLs they load is read from the programs and plugins themselves. Only
# Qt's and the compiler's own are shipped; everything else comes with Windows.
set(SERVO_DLL_FOLDERS)
foreach(qt_target Qt5::Core Qt5::Gui Qt5::Widgets Qt5::SerialPort)
    get_target_property(dll ${qt_target} IMPORTED_LOCATION_RELEASE)
    if(NOT dll)
        get_target_property(dll ${qt_target} LOCATION)
    endif()
    get_filename_component(folder "${dll}" DIRECTORY)
    list(APPEND SERVO_DLL_FOLDERS "${folder}")
endforeach()
list(REMOVE_DUPLICATES SERVO_DLL_FOLDERS)

if(MINGW)
    foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=${runtime}
                        OUTPUT_VARIABLE dll OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(IS_ABSOLUTE "${dll}")
            get_filename_component(folder "${dll}" REALPATH)
            get_filename_component(folder "${folder}" DIRECTORY)
            list(APPEND SERVO_DLL_FOLDERS "${folder}")
        endif()
    endforeach()
    # A MinGW installed with Qt keeps them next to the compiler.
    get_filename_component(folder "${CMAKE_CXX_COMPILER}" DIRECTORY)
    list(APPEND SERVO_DLL_FOLDERS "${folder}")
    list(REMOVE_DUPLICATES SERVO_DLL_FOLDERS)

    # The import tables are read with binutils' objdump. (CMake's own
    # resolver lowercases DLL names, which a cross build on a case-sensitive
    # file system then cannot find.)
    set(files)
    foreach(target ${SERVO_PROGRAMS} ${SERVO_PLUGINS})
        list(APPEND files "$<TARGET_FILE:${target}>")
    endforeach()
    file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/deploy-settings.cmake CONTENT "
set(DEPLOY_OBJDUMP \"${CMAKE_OBJDUMP}\")
set(DEPLOY_STRIP \"${CMAKE_STRIP}\")
set(DEPLOY_FILES \"${files}\")
set(DEPLOY_FOLDERS \"${SERVO_DLL_FOLDERS}\")
")
    install(CODE "include(\"${CMAKE_CURRENT_BINARY_DIR}/deploy-settings.cmake\")
                  include(\"${CMAKE_CURRENT_LIST_DIR}/DeployDlls.cmake\")")
else()
    # CMake's resolver, on Windows itself (MSVC).
    set(quoted EXECUTABLES)
    foreach(target ${SERVO_PROGRAMS})
        list(APPEND quoted "\"$<TARGET_FILE:${target}>\"")
    endforeach()
    list(APPEND quoted MODULES)
    foreach(target ${SERVO_PLUGINS})
        list(APPEND quoted "\"$<TARGET_FILE:${target}>\"")
    endforeach()
    list(APPEND quoted DIRECTORIES)
    foreach(folder ${SERVO_DLL_FOLDERS})
        list(APPEND quoted "\"${folder}\"")
    endforeach()
    list(JOIN quoted " " quoted)
    install(CODE "
        file(GET_RUNTIME_DEPENDENCIES ${quoted}
            PRE_INCLUDE_REGEXES \"^qt5\"
            PRE_EXCLUDE_REGEXES \".*\"
            RESOLVED_DEPENDENCIES_VAR dlls)
        file(INSTALL \${dlls} DESTINATION \"\${CMAKE_INSTALL_PREFIX}\")")
    # vcruntime140.dll and the rest of the Visual C++ runtime.
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION .)
    include(InstallRequiredSystemLibraries)
endif()

configure_file(README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_FILE_NAME servo-tool-${PROJECT_VERSION}-win64)

# The installer (NSIS), from the script packaging/windows/NSIS.template.in,
# which CPack takes in place of CMake's own: it installs to Program
# Files\Servo Tool, with a Start-menu folder holding the two windows (the
# servo tool and the bench) and the uninstaller, which is registered under
# HKLM\...\CurrentVersion\Uninstall\<application id> and which it runs
# first over an older installation. An
# option, on by default, puts the install folder on the user's PATH. It stops
# while one of the programs runs from the install folder. It is a 64-bit
# program when NSIS has the stubs for it (Debian's has; it then runs where
# only 64-bit Windows programs do, as in a Wine without wine32).
set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/windows)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Servo Tool")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY ${SERVO_APP_ID})
set(CPACK_NSIS_PACKAGE_NAME "Servo Tool ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "Servo Tool")
set(CPACK_NSIS_INSTALLED_ICON_NAME servo-tool.exe)
set(CPACK_NSIS_MUI_ICON ${CMAKE_CURRENT_LIST_DIR}/windows/servo-tool.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_CURRENT_LIST_DIR}/windows/servo-tool.ico)
set(CPACK_SERVO_CLOSE_PROGRAMS)
foreach(program ${SERVO_PROGRAMS})
    string(APPEND CPACK_SERVO_CLOSE_PROGRAMS "  !insertmacro CLOSE_PROGRAM ${program}.exe\n")
endforeach()
# The Start-menu entries of the windows, "<program>|<name of the entry>".
set(SERVO_SHORTCUTS "servo-tool|${CPACK_NSIS_DISPLAY_NAME}" "servo-bench|Servo Bench")
set(CPACK_SERVO_CREATE_SHORTCUTS)
set(CPACK_SERVO_DELETE_SHORTCUTS)
foreach(shortcut ${SERVO_SHORTCUTS})
    string(REPLACE "|" ";" shortcut "${shortcut}")
    list(GET shortcut 0 program)
    list(GET shortcut 1 name)
    string(APPEND CPACK_SERVO_CREATE_SHORTCUTS
        "    CreateShortCut \"$SMPROGRAMS\\$StartMenuFolder\\${name}.lnk\" \"$INSTDIR\\${program}.exe\"\n")
    string(APPEND CPACK_SERVO_DELETE_SHORTCUTS "  Delete \"$SMPROGRAMS\\$StartMenuFolder\\${name}.lnk\"\n")
endforeach()
set(CPACK_VERBATIM_VARIABLES ON)

# The packages, checked under Wine in a Windows build on Linux (as tests
# labelled "wine", tests/wine/wine.cmake): CPack makes the zip and the
# installer; the zip holds exactly the files below and is unpacked to C:\;
# the installer installs them with /S, with its shortcuts, uninstall entry
# and the install folder on the user's PATH, also over itself; it and the
# uninstaller stop while servo-tool or servo-bench runs from that folder; the
# uninstaller leaves nothing behind and the user's PATH as it was
# (installer.cmake). In both folders the programs start with what lies beside
# them, carry their version and the windows their own icons, and the windows
# show (tst_deployed).
set(SERVO_WINDOWS_FILES README.txt Qt5Core.dll Qt5Gui.dll Qt5SerialPort.dll Qt5Widgets.dll
    imageformats/qjpeg.dll libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll
    platforms/qwindows.dll servo-bench.exe servo-cli.exe servo-sim.exe servo-tool.exe
    styles/qwindowsvistastyle.dll)
if(SERVO_WINE_ENVIRONMENT AND SERVO_TESTS)
    set(expected ${CMAKE_CURRENT_BINARY_DIR}/windows-expected.cmake)
    configure_file(windows/expected.cmake.in ${expected} @ONLY)
    get_target_property(offscreen Qt5::QOffscreenIntegrationPlugin LOCATION)
    get_filename_component(offscreen "${offscreen}" DIRECTORY)
    set(setup_prefix ${PROJECT_BINARY_DIR}/wineprefix-setup)

    add_test(NAME windows_zip_package COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
    set_tests_properties(windows_zip_package PROPERTIES FIXTURES_SETUP windows_zip_package)
    servo_wine_script(windows_zip ${CMAKE_CURRENT_LIST_DIR}/windows/zip.cmake DEFINES -DEXPECTED=${expected}
        FIXTURES_REQUIRED "wine;windows_zip_package" FIXTURES_SETUP windows_zip)
    add_test(NAME windows_zip_programs COMMAND tst_deployed)
    set_tests_properties(windows_zip_programs PROPERTIES FIXTURES_REQUIRED "wine;windows_zip"
        ENVIRONMENT "${SERVO_WINE_ENVIRONMENT};SERVO_DEPLOYED=C:/${CPACK_PACKAGE_FILE_NAME};SERVO_QT_PLATFORMS=Z:${offscreen}")

    find_program(SERVO_MAKENSIS makensis)
    if(SERVO_MAKENSIS)
        add_test(NAME windows_setup_package COMMAND ${CMAKE_CPACK_COMMAND} -G NSIS WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
        set_tests_properties(windows_setup_package PROPERTIES FIXTURES_SETUP windows_setup_package)
        servo_wine_script(windows_install ${CMAKE_CURRENT_LIST_DIR}/windows/installer.cmake PREFIX ${setup_prefix}
            DEFINES -DEXPECTED=${expected} -DACTION=install
            FIXTURES_REQUIRED windows_setup_package FIXTURES_SETUP windows_installed)
        add_test(NAME windows_installed_programs COMMAND tst_deployed)
        set_tests_properties(windows_installed_programs PROPERTIES FIXTURES_REQUIRED windows_installed
            ENVIRONMENT "${SERVO_WINE_ENVIRONMENT};WINEPREFIX=${setup_prefix};SERVO_DEPLOYED=C:/Program Files/${CPACK_PACKAGE_INSTALL_DIRECTORY};SERVO_QT_PLATFORMS=Z:${offscreen}")
        servo_wine_script(windows_installed_running ${CMAKE_CURRENT_LIST_DIR}/windows/installer.cmake
            PREFIX ${setup_prefix} DEFINES -DEXPECTED=${expected} -DACTION=running
            FIXTURES_REQUIRED windows_installed)
        set_tests_properties(windows_installed_running PROPERTIES DEPENDS windows_installed_programs)
        servo_wine_script(windows_uninstall ${CMAKE_CURRENT_LIST_DIR}/windows/installer.cmake PREFIX ${setup_prefix}
            DEFINES -DEXPECTED=${expected} -DACTION=uninstall FIXTURES_CLEANUP windows_installed)
        set_tests_properties(windows_setup_package windows_installed_programs PROPERTIES LABELS wine)
        # Seconds measured under Wine 10 on 2 busy cores (tests/wine/wine.cmake).
        servo_wine_timeout(windows_setup_package 93)
        servo_wine_timeout(windows_install 41)
        servo_wine_timeout(windows_installed_programs 11)
        servo_wine_timeout(windows_installed_running 12)
        servo_wine_timeout(windows_uninstall 54)
    endif()
    set_tests_properties(windows_zip_package windows_zip_programs PROPERTIES LABELS wine)
    servo_wine_timeout(windows_zip_package 37)
    servo_wine_timeout(windows_zip 1)
    servo_wine_timeout(windows_zip_programs 10)
endif()
