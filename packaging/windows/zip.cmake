# cmake -DEXPECTED=<expected.cmake> -DPREFIX=<Wine prefix> -P zip.cmake
# The zip holds its top folder with exactly the expected files, and is
# unpacked to C:\ of the prefix, as a user unpacks it.
include(${EXPECTED})
include(${CMAKE_CURRENT_LIST_DIR}/../../tests/wine/wine-steps.cmake)

set(unpacked "${PREFIX}/drive_c")
file(REMOVE_RECURSE "${unpacked}/${TOP}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${ZIP}" WORKING_DIRECTORY "${unpacked}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot unpack ${ZIP}")
endif()
file(GLOB top RELATIVE "${unpacked}" "${unpacked}/${TOP}*")
if(NOT top STREQUAL TOP)
    message(FATAL_ERROR "the zip's top folder is not ${TOP}")
endif()
expect_files("${TOP}.zip" "${unpacked}/${TOP}" ${FILES})
