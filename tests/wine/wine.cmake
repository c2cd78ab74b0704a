# A Windows build on Linux runs its tests under Wine (CMake's emulator, the
# SDK's wine-run). They share one Wine prefix, made afresh by the fixture
# "wine" with a wineserver that stays until the last test is done: a link
# dosdevices/comN made while it runs is then a COM port at the next open.
#
# The serial tests play the servo programmer on pairs of COM ports joined by
# ptypair and read through the preload ptymodem (both Linux programs of this
# folder, from the Linux build in SERVO_LINUX_BIN); see tests/testline.h.
set(SERVO_LINUX_BIN "${PROJECT_SOURCE_DIR}/build/bin" CACHE PATH
    "bin/ of a Linux build of this tree, with ptypair and ptymodem.so (for the serial tests under Wine)")
set(SERVO_WINE_PREFIX ${PROJECT_BINARY_DIR}/wineprefix)
# The fonts of the offscreen platform under Wine, which reads one folder
# (QT_QPA_FONTDIR): Liberation, with the metrics of Arial, Times New Roman and
# Courier New, and WenQuanYi Micro Hei, the stand-in for the window's face
# (ui/applicationfont.h), so that the Chinese captions show, and fit, as on
# Linux. Links to the fonts of the machine (of the Wine 10 root, which has
# the same paths); the windows platform sees the root's fonts through Wine.
set(SERVO_WINE_FONTS ${PROJECT_BINARY_DIR}/wine-fonts)
file(GLOB fonts /usr/share/fonts/truetype/liberation/*.ttf /usr/share/fonts/truetype/wqy/wqy-microhei.ttc)
file(REMOVE_RECURSE ${SERVO_WINE_FONTS})
file(MAKE_DIRECTORY ${SERVO_WINE_FONTS})
foreach(font ${fonts})
    get_filename_component(name ${font} NAME)
    file(CREATE_LINK ${font} ${SERVO_WINE_FONTS}/${name} SYMBOLIC)
endforeach()
set(SERVO_WINE_ENVIRONMENT
    WINEPREFIX=${SERVO_WINE_PREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
    QT_QPA_FONTDIR=Z:${SERVO_WINE_FONTS}
    SERVO_PTYPAIR=${SERVO_LINUX_BIN}/ptypair LD_PRELOAD=${SERVO_LINUX_BIN}/ptymodem.so)

# servo_wine_script(<test> <script> [-D...] [FIXTURES_SETUP|FIXTURES_CLEANUP|
# FIXTURES_REQUIRED <fixture>]... [PREFIX <prefix>]): a CMake script of this
# folder or packaging/windows/ as a test, with Wine's environment.
function(servo_wine_script name script)
    cmake_parse_arguments(ARG "" "PREFIX" "DEFINES;FIXTURES_SETUP;FIXTURES_CLEANUP;FIXTURES_REQUIRED" ${ARGN})
    if(NOT ARG_PREFIX)
        set(ARG_PREFIX ${SERVO_WINE_PREFIX})
    endif()
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -DPREFIX=${ARG_PREFIX} ${ARG_DEFINES} -P ${script})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${SERVO_WINE_ENVIRONMENT};WINEPREFIX=${ARG_PREFIX}"
        TIMEOUT 600 LABELS wine)
    foreach(kind SETUP CLEANUP REQUIRED)
        if(ARG_FIXTURES_${kind})
            set_tests_properties(${name} PROPERTIES FIXTURES_${kind} "${ARG_FIXTURES_${kind}}")
        endif()
    endforeach()
endfunction()

# servo_wine_timeout(<test> <seconds>): the time-out of a test under Wine,
# from its longest run measured under Wine 10 on 2 cores that were busy with
# a build too (the seconds given): 4 times that, and at least a minute, as a
# Wine program's start alone can take seconds on such a machine.
function(servo_wine_timeout name measured)
    math(EXPR limit "(4 * ${measured} + 9) / 10 * 10")
    if(limit LESS 60)
        set(limit 60)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${limit})
endfunction()

servo_wine_script(wine_prefix ${CMAKE_CURRENT_LIST_DIR}/prefix.cmake DEFINES -DACTION=start FIXTURES_SETUP wine)
servo_wine_script(wine_prefix_stop ${CMAKE_CURRENT_LIST_DIR}/prefix.cmake DEFINES -DACTION=stop FIXTURES_CLEANUP wine)
servo_wine_timeout(wine_prefix 17)
servo_wine_timeout(wine_prefix_stop 1)
