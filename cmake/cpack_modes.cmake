# Run by cpack before and after it packs, so that the package's modes are Debian's
# whatever the umask of whoever packs it: first the directories that install made
# (0755), then the headers of the .deb's ar members (0644, as dpkg-deb writes them).
if(NOT CPACK_PACKAGE_FILES)
    file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
    foreach(path IN LISTS staged)
        if(IS_DIRECTORY ${path} AND NOT IS_SYMLINK ${path})
            file(CHMOD ${path} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
        endif()
    endforeach()
    return()
endif()

# An ar member's header is 60 bytes: its mode at 40, in 8, its size at 48, in 10;
# the member follows, padded to an even length.
set(mode ${CPACK_TOPLEVEL_DIRECTORY}/ar-mode)
file(WRITE ${mode} "100644  ")
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    file(SIZE ${deb} end)
    set(header 8) # after the magic, "!<arch>\n"
    while(header LESS end)
        math(EXPR at "${header} + 48")
        file(READ ${deb} size OFFSET ${at} LIMIT 10)
        string(STRIP "${size}" size)
        math(EXPR at "${header} + 40")
        execute_process(COMMAND dd of=${deb} bs=1 seek=${at} conv=notrunc status=none
            INPUT_FILE ${mode} COMMAND_ERROR_IS_FATAL ANY)
        math(EXPR header "${header} + 60 + ${size} + ${size} % 2")
    endwhile()
endforeach()
