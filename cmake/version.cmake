# The release's version and date, written in one place: the newest entry of
# debian/changelog, "stepwave (VERSION-REVISION) ..." and its " -- NAME <MAIL>  DATE"
# line. Sets stepwave_version (upstream's part), stepwave_release_date (YYYY-MM-DD) and
# stepwave_source_date_epoch (a SOURCE_DATE_EPOCH from the environment wins); run as a
# script, cmake -P cmake/version.cmake, it prints the version and the epoch.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../debian/changelog stepwave_heading
    REGEX "^stepwave \\(" LIMIT_COUNT 1)
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../debian/changelog stepwave_trailer
    REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX MATCH "^stepwave \\(([0-9]+(\\.[0-9]+)*)-[0-9]+\\) " heading "${stepwave_heading}")
set(stepwave_version ${CMAKE_MATCH_1})
if(NOT heading OR NOT stepwave_trailer MATCHES "^ -- [^<]+<[^>]+>  (.+)$")
    message(FATAL_ERROR "debian/changelog's newest entry is not 'stepwave (VERSION-REVISION) "
        "...', with a numeric VERSION, and its ' -- NAME <MAIL>  DATE' line")
endif()
execute_process(COMMAND date -u -d "${CMAKE_MATCH_1}" +%s
    OUTPUT_VARIABLE stepwave_source_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND date -u -d @${stepwave_source_date_epoch} +%F
    OUTPUT_VARIABLE stepwave_release_date OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(stepwave_source_date_epoch $ENV{SOURCE_DATE_EPOCH})
endif()
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    execute_process(COMMAND ${CMAKE_COMMAND} -E echo
        "${stepwave_version} ${stepwave_source_date_epoch}")
endif()
