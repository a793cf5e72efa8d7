# Read by cpack before it packs: a build that is not the shipped one packs nothing, and
# every file in the package gets the release's time.
if(CPACK_STEPWAVE_REFUSAL)
    message(FATAL_ERROR "stepwave: ${CPACK_STEPWAVE_REFUSAL}")
endif()
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    set(ENV{SOURCE_DATE_EPOCH} ${CPACK_SOURCE_DATE_EPOCH})
endif()
