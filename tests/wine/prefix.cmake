# cmake -DPREFIX=<folder> -DACTION=start|stop -P prefix.cmake
#   start  a fresh Wine prefix in PREFIX, with a wineserver that stays (-p)
#          until "stop", and its services started
#   stop   ends every program of PREFIX and its wineserver
include(${CMAKE_CURRENT_LIST_DIR}/wine-steps.cmake)

wine_stop("${PREFIX}")
if(ACTION STREQUAL "start")
    wine_fresh_prefix("${PREFIX}")
    wine_stop("${PREFIX}") # the server of wineboot, which would stay a few seconds
    wine_run(wineserver -p)
    # The prefix's services start with its first program; one that ends while
    # they still start can wait for them long after.
    wine_run(wine cmd /c exit)
endif()
