# Toolchain file of the "windows" preset: the Qt 5.15.8 SDK for 64-bit
# Windows, then the mingw-w64 toolchain file that comes with it.
#
# The SDK is the one QT_MINGW_PREFIX names (cache variable, or else the
# environment variable, which the first configure keeps in the cache), when it
# holds lib/cmake/Qt5/Qt5Config.cmake. Without it, qt5.15.8-mingw64.tar.xz
# from ../shared/toolchains/ beside the source tree is unpacked into the build
# folder: once, and again when the tarball is newer than the unpacked copy.
#
# CMake reads a toolchain file several times (each project() and every
# try_compile); try_compile gets QT_MINGW_PREFIX passed on, and a copy that is
# up to date is taken without a word, so only the first reading unpacks.
get_filename_component(_servo_toolchains "${CMAKE_CURRENT_LIST_DIR}/../../../shared/toolchains" ABSOLUTE)
set(_servo_tarball "${_servo_toolchains}/qt5.15.8-mingw64.tar.xz")

if(NOT QT_MINGW_PREFIX AND NOT "$ENV{QT_MINGW_PREFIX}" STREQUAL "")
    set(QT_MINGW_PREFIX "$ENV{QT_MINGW_PREFIX}" CACHE PATH "Qt 5.15.8 SDK for 64-bit Windows (empty: unpack the tarball)" FORCE)
endif()
if(QT_MINGW_PREFIX)
    get_filename_component(QT_MINGW_PREFIX "${QT_MINGW_PREFIX}" ABSOLUTE)
    if(NOT EXISTS "${QT_MINGW_PREFIX}/lib/cmake/Qt5/Qt5Config.cmake")
        message(FATAL_ERROR "QT_MINGW_PREFIX=${QT_MINGW_PREFIX} is not a Qt SDK: it has no lib/cmake/Qt5/Qt5Config.cmake")
    endif()
elseif(EXISTS "${_servo_tarball}")
    set(QT_MINGW_PREFIX "${CMAKE_BINARY_DIR}/qt5.15.8-mingw64")
    set(_servo_marker "${QT_MINGW_PREFIX}/.unpacked")
    if(NOT EXISTS "${_servo_marker}" OR "${_servo_tarball}" IS_NEWER_THAN "${_servo_marker}")
        message(STATUS "Unpacking ${_servo_tarball} into ${CMAKE_BINARY_DIR}")
        file(REMOVE_RECURSE "${QT_MINGW_PREFIX}")
        file(ARCHIVE_EXTRACT INPUT "${_servo_tarball}" DESTINATION "${CMAKE_BINARY_DIR}")
        if(NOT EXISTS "${QT_MINGW_PREFIX}/lib/cmake/Qt5/Qt5Config.cmake")
            message(FATAL_ERROR "${_servo_tarball} holds no qt5.15.8-mingw64/lib/cmake/Qt5/Qt5Config.cmake")
        endif()
        file(TOUCH "${_servo_marker}")
    endif()
else()
    message(FATAL_ERROR "No Qt SDK for Windows: set QT_MINGW_PREFIX to an unpacked SDK, or put "
                        "qt5.15.8-mingw64.tar.xz and mingw64.cmake into ${_servo_toolchains}/")
endif()

# The mingw-w64 toolchain file: beside the tarball, else the SDK's own copy.
set(_servo_mingw "${_servo_toolchains}/mingw64.cmake")
if(NOT EXISTS "${_servo_mingw}")
    set(_servo_mingw "${QT_MINGW_PREFIX}/mingw64.cmake")
endif()
if(NOT EXISTS "${_servo_mingw}")
    message(FATAL_ERROR "No mingw64.cmake in ${_servo_toolchains}/ nor in ${QT_MINGW_PREFIX}/")
endif()
include("${_servo_mingw}")
