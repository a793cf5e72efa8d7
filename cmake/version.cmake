# The release's version and date, written in one place: the newest entry of CHANGELOG.md,
# "## VERSION (YYYY-MM-DD)". Sets stepwave_version, stepwave_release_date and
# stepwave_source_date_epoch, that date's midnight UTC unless SOURCE_DATE_EPOCH is set;
# run as a script, cmake -P cmake/version.cmake, it prints the version and the epoch.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../CHANGELOG.md heading REGEX "^## " LIMIT_COUNT 1)
if(NOT heading MATCHES "^## ([0-9]+\\.[0-9]+\\.[0-9]+) \\(([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])\\)$")
    message(FATAL_ERROR "CHANGELOG.md's newest entry must begin '## VERSION (YYYY-MM-DD)', "
        "with VERSION three numbers, not '${heading}'")
endif()
set(stepwave_version ${CMAKE_MATCH_1})
set(stepwave_release_date ${CMAKE_MATCH_2})
execute_process(COMMAND date -u -d "${stepwave_release_date} 00:00" +%s
    OUTPUT_VARIABLE stepwave_source_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(stepwave_source_date_epoch $ENV{SOURCE_DATE_EPOCH})
endif()
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    execute_process(COMMAND ${CMAKE_COMMAND} -E echo
        "${stepwave_version} ${stepwave_source_date_epoch}")
endif()
