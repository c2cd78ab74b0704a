# Installing on Linux the freedesktop way, and the Debian package.
#
#   cmake --install build --prefix /usr/local    the four programs, the menu
#       entries of the two windows, their icon theme files and AppStream
#       metadata, the manual pages and the bash completion of servo-cli
#   (cd build && cpack -G DEB)                   servo-tool_<version>_<arch>.deb
#
# Every file that names the servo tool's window uses the one id SERVO_APP_ID
# (set at the top): the desktop entry, the icon, the metadata; those of the
# bench window (servo-bench) use servo_bench_id. The data files are in
# packaging/linux/.
include(GNUInstallDirs)

set(SERVO_HOMEPAGE_URL "https://servotool.org" CACHE STRING
    "Home page named in the AppStream metadata and the Debian package; the screenshot is published at <url>/screenshot.png")
set(SERVO_PACKAGE_MAINTAINER "Servo Tool developers <servo-tool@example.org>" CACHE STRING
    "Maintainer of the Debian package, \"Name <address>\"")

set(servo_linux_dir ${CMAKE_CURRENT_LIST_DIR}/linux)
set(servo_linux_out ${PROJECT_BINARY_DIR}/packaging)
set(servo_docdir ${CMAKE_INSTALL_DATADIR}/doc/servo-tool)
# The bench window is an application of its own in the menus and software
# centres: its own desktop entry, icon and AppStream component.
set(servo_bench_id org.servotool.ServoBench)
set(servo_app_ids ${SERVO_APP_ID} ${servo_bench_id})

find_program(SERVO_GZIP gzip REQUIRED)

install(TARGETS servo-tool servo-bench servo-cli servo-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(id ${servo_app_ids})
    install(FILES ${servo_linux_dir}/${id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endforeach()
install(FILES ${servo_linux_dir}/servo-cli.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME servo-cli)
install(FILES ${servo_linux_dir}/copyright DESTINATION ${servo_docdir})

# The metainfo names the version and the screenshot; the Debian changelog the
# version and the maintainer.
set(SERVO_SCREENSHOT_URL ${SERVO_HOMEPAGE_URL}/screenshot.png)
set(SERVO_BENCH_SCREENSHOT_URL ${SERVO_HOMEPAGE_URL}/bench-screenshot.png)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${SERVO_PACKAGE_MAINTAINER})
foreach(id ${servo_app_ids})
    configure_file(${servo_linux_dir}/${id}.metainfo.xml.in ${servo_linux_out}/${id}.metainfo.xml @ONLY)
    install(FILES ${servo_linux_out}/${id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endforeach()
configure_file(${servo_linux_dir}/changelog.in ${servo_linux_out}/changelog @ONLY)

# Manual pages and the changelog are installed compressed, as Debian wants.
set(servo_compressed)
set(servo_man_pages servo-tool.1 servo-bench.1 servo-cli.1 servo-sim.1)
foreach(source ${servo_man_pages} ${servo_linux_out}/changelog)
    get_filename_component(name ${source} NAME)
    get_filename_component(source ${source} ABSOLUTE BASE_DIR ${servo_linux_dir})
    set(copy ${servo_linux_out}/gz/${name})
    add_custom_command(OUTPUT ${copy}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
        COMMAND ${SERVO_GZIP} -9nf ${copy}
        DEPENDS ${source} VERBATIM)
    list(APPEND servo_compressed ${copy}.gz)
endforeach()
foreach(page ${servo_man_pages})
    install(FILES ${servo_linux_out}/gz/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${servo_linux_out}/gz/changelog.gz DESTINATION ${servo_docdir})

# The icons of the two windows at the sizes of the hicolor theme, drawn by
# tools/draw-icons (without a display, and without leak reports when the tree
# is built with the sanitizers): the servo tool's gear, and the bench's slots
# (--bench).
set(servo_icons)
foreach(id ${servo_app_ids})
    set(icons)
    foreach(size 16 22 24 32 48 64 128 256 512)
        list(APPEND icons ${servo_linux_out}/icons/${size}x${size}/apps/${id}.png)
    endforeach()
    set(picture)
    if(id STREQUAL "${servo_bench_id}")
        set(picture --bench)
    endif()
    add_custom_command(OUTPUT ${icons}
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:draw-icons> ${picture} --theme ${id} ${servo_linux_out}/icons
        DEPENDS draw-icons VERBATIM)
    list(APPEND servo_icons ${icons})
endforeach()
add_custom_target(servo_linux_data ALL DEPENDS ${servo_icons} ${servo_compressed})
install(DIRECTORY ${servo_linux_out}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

# The manual pages and the completion list the options and exit codes that
# the programs' --help shows.
if(SERVO_TESTS)
    add_test(NAME packaging_docs_match_help
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-docs.sh
            $<TARGET_FILE:servo-cli> $<TARGET_FILE:servo-sim> $<TARGET_FILE:servo-bench> ${servo_linux_dir})
endif()

# The ecosystem's validators, as tests labelled "packaging" (each where its
# program is installed; ./setup.sh package installs them and runs
# "ctest -L packaging"): the desktop entries, the AppStream metadata, the
# manual pages, and the Debian package.
find_program(SERVO_DESKTOP_FILE_VALIDATE desktop-file-validate)
find_program(SERVO_APPSTREAMCLI appstreamcli)
find_program(SERVO_MAN man)
find_program(SERVO_LINTIAN lintian)
set(servo_packaging_tests)
foreach(id ${servo_app_ids})
    if(SERVO_DESKTOP_FILE_VALIDATE)
        add_test(NAME packaging_desktop_entry_${id}
            COMMAND ${SERVO_DESKTOP_FILE_VALIDATE} ${servo_linux_dir}/${id}.desktop)
        list(APPEND servo_packaging_tests packaging_desktop_entry_${id})
    endif()
    if(SERVO_APPSTREAMCLI)
        add_test(NAME packaging_appstream_${id}
            COMMAND ${SERVO_APPSTREAMCLI} validate --no-net ${servo_linux_out}/${id}.metainfo.xml)
        list(APPEND servo_packaging_tests packaging_appstream_${id})
    endif()
endforeach()
if(SERVO_MAN)
    foreach(page ${servo_man_pages})
        # man prints its warnings on standard error and formats the page on
        # standard output: the test fails on any warning.
        add_test(NAME packaging_man_${page}
            COMMAND sh -c "warnings=$(\"$0\" --warnings -l \"$1\" 2>&1 >/dev/null) || exit 1; echo \"$warnings\"; test -z \"$warnings\""
                ${SERVO_MAN} ${servo_linux_dir}/${page})
        set_tests_properties(packaging_man_${page} PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8;MANWIDTH=80")
        list(APPEND servo_packaging_tests packaging_man_${page})
    endforeach()
endif()
# The Debian package, made by CPack; lintian on it; and installed into a
# fresh Debian root (test-deb.sh: as root, with debootstrap, else skipped).
add_test(NAME packaging_deb COMMAND sh -c "rm -f servo-tool_*.deb && \"$0\" -G DEB" ${CMAKE_CPACK_COMMAND}
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
add_test(NAME packaging_deb_installs
    COMMAND sh -c "exec bash \"$0\" servo-tool_*.deb \"$1\" \"$2\"" ${CMAKE_CURRENT_LIST_DIR}/test-deb.sh ${servo_app_ids}
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
set_tests_properties(packaging_deb PROPERTIES FIXTURES_SETUP servo_deb TIMEOUT 600)
set_tests_properties(packaging_deb_installs PROPERTIES FIXTURES_REQUIRED servo_deb TIMEOUT 900 SKIP_RETURN_CODE 77)
list(APPEND servo_packaging_tests packaging_deb packaging_deb_installs)
if(SERVO_LINTIAN)
    add_test(NAME packaging_lintian
        COMMAND sh -c "\"$0\" --fail-on error --display-info servo-tool_*.deb" ${SERVO_LINTIAN}
        WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
    set_tests_properties(packaging_lintian PROPERTIES FIXTURES_REQUIRED servo_deb TIMEOUT 600)
    list(APPEND servo_packaging_tests packaging_lintian)
endif()
if(servo_packaging_tests)
    set_tests_properties(${servo_packaging_tests} PROPERTIES LABELS packaging)
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_CONTACT ${SERVO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read, edit and write a hobby servo's configuration")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
Servo Tool reads the fourteen parameters of a hobby servo through a servo
programmer on a serial port (111100 baud, 8N2), lets you change them in one
window and writes them back; the values can be kept in a one-line text file.
It comes with servo-bench, a window that programs a batch of servos with one
parameter file on several programmers at once and logs each servo; servo-cli,
for reading, writing and comparing from a shell; and servo-sim, a simulated
programmer on a pseudo-terminal for trying it all without hardware.

The serial ports of USB programmers (/dev/ttyUSB*, /dev/ttyACM*) belong to
the group dialout: add yourself to it with 'sudo adduser $USER dialout' and
log in again, or the port cannot be opened.]])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${SERVO_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The captions are half Chinese: without a CJK font they show as boxes. This
# one also stands in for the window's face (ui/applicationfont.h), whose
# narrow Latin letters the English captions were laid out for.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-wqy-microhei)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
