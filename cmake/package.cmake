# Install rules and the Debian package. The version and the release date come from
# CHANGELOG.md (see version.cmake), the licence terms from LICENSE.
include(GNUInstallDirs)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/LICENSE)

block()
set(contact "stepwave authors <authors@stepwave.example>")
set(release_date ${stepwave_release_date})
configure_file(${PROJECT_SOURCE_DIR}/docs/stepwave.1.in stepwave.1 @ONLY)

# Packages carry the release date, not the time they were made, so that every build
# of one source gives the same bytes.
set(CPACK_SOURCE_DATE_EPOCH ${stepwave_source_date_epoch})

execute_process(COMMAND awk -v package=${PROJECT_NAME} "-v" "contact=${contact}"
    -f ${CMAKE_CURRENT_LIST_DIR}/changelog.awk ${PROJECT_SOURCE_DIR}/CHANGELOG.md
    OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/changelog COMMAND_ERROR_IS_FATAL ANY)

# The copyright file in Debian's machine-readable format, with the terms from LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" holder "${license}")
set(holder ${CMAKE_MATCH_1})
string(REGEX REPLACE "^.*\n\n(Permission )" "\\1" terms "${license}")
string(STRIP "${terms}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: ${PROJECT_NAME}\nUpstream-Contact: ${contact}\n\n"
    "Files: *\nCopyright: ${holder}\nLicense: Expat\n ${terms}\n")

# Lintian's overrides, for what it says of the static executable only.
set(overrides "# stepwave is static by design, so that it needs no shared library at run time.\n")
if(STEPWAVE_HAS_STATIC_PIE)
    string(APPEND overrides
        "# Being static-pie, for ASLR, it looks to lintian like a shared library that\n"
        "# lacks its dependencies.\n"
        "${PROJECT_NAME}: shared-library-lacks-prerequisites [usr/bin/${PROJECT_NAME}]\n")
else()
    string(APPEND overrides "${PROJECT_NAME}: statically-linked-binary [usr/bin/${PROJECT_NAME}]\n")
endif()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/lintian-overrides "${overrides}")

# Debian compresses documentation with no name or time stamp inside.
foreach(file IN ITEMS stepwave.1 changelog)
    add_custom_command(OUTPUT ${file}.gz
        COMMAND gzip -9 -n -c ${file} > ${file}.gz
        DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${file} VERBATIM)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS stepwave.1.gz changelog.gz)

install(TARGETS stepwave RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/stepwave.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Debian's own files go into the package only, not into a plain install.
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/lintian-overrides RENAME ${PROJECT_NAME}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT debian EXCLUDE_FROM_ALL)

# A cross build's package is for the compiler's machine, in Debian's name for it; a
# native one's is dpkg's own, which CPack asks for.
if(CMAKE_CROSSCOMPILING)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine OUTPUT_VARIABLE triple
        OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND dpkg-architecture -t ${triple} -q DEB_HOST_ARCH
        OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_QUIET RESULT_VARIABLE failed)
    if(failed)
        set(CPACK_STEPWAVE_REFUSAL "no Debian architecture for ${triple}: install dpkg-dev")
    endif()
endif()

# Only the shipped build is packed. Another would pack an executable that the package's
# overrides and empty Depends misdescribe.
if(NOT stepwave_shipped)
    string(CONCAT CPACK_STEPWAVE_REFUSAL "this build is not the shipped one (static, "
        "optimised, not sanitized). Make packages with a package workflow: cmake "
        "--workflow --preset package, or another that cmake --workflow --list-presets names")
endif()
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake)

set(CPACK_PACKAGE_CONTACT ${contact})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION [[
stepwave writes raw unsigned 8-bit single-channel samples to standard output
for ever, each computed by a fixed integer formula from a 32-bit counter: a
stepped ramp with changing slopes plus a 7-bit pattern. Pipe it into an audio
player at 8000 samples a second, or into any tool that reads bytes.]])
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "alsa-utils | sox | pipewire-bin")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_modes.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_modes.cmake)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)
include(CPack)
endblock()
