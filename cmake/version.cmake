# The release's version and date, written in one place: CHANGELOG.md's newest heading,
# "## VERSION - YYYY-MM-DD". Sets stepwave_version, stepwave_release_date and
# stepwave_source_date_epoch (a SOURCE_DATE_EPOCH from the environment wins); run as a
# script, cmake -P cmake/version.cmake, it prints the version and the epoch.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../CHANGELOG.md stepwave_headings REGEX "^## ")
list(APPEND stepwave_headings "(none)")
list(GET stepwave_headings 0 stepwave_newest)
set(stepwave_date_pattern "[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]")
if(NOT stepwave_newest MATCHES "^## ([0-9]+(\\.[0-9]+)*) - (${stepwave_date_pattern})$")
    message(FATAL_ERROR "CHANGELOG.md's newest heading is '${stepwave_newest}', not "
        "'## VERSION - YYYY-MM-DD' with a numeric VERSION")
endif()
set(stepwave_version ${CMAKE_MATCH_1})
set(stepwave_release_date ${CMAKE_MATCH_3})
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(stepwave_source_date_epoch $ENV{SOURCE_DATE_EPOCH})
else()
    execute_process(COMMAND date -u -d ${stepwave_release_date} +%s
        OUTPUT_VARIABLE stepwave_source_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
        COMMAND_ERROR_IS_FATAL ANY)
endif()
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    execute_process(COMMAND ${CMAKE_COMMAND} -E echo
        "${stepwave_version} ${stepwave_source_date_epoch}")
endif()
