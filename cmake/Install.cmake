# What `cmake --install` and the Debian package put where. The program's own folder,
# lib/tessaline-row-porter/, holds the program file and the hand cursor, which the program looks
# up beside itself; bin/ has a relative link to the program. Then the menu entry, the icons,
# the AppStream metadata, the manual page and the copyright and changelog Debian asks for.
include(GNUInstallDirs)

set(TRP_INSTALL_NAME tessaline-row-porter)
# Not CMAKE_INSTALL_LIBDIR: a program's private folder has no multiarch part.
set(TRP_APPLICATION_DIR lib/${TRP_INSTALL_NAME})
set(TRP_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${TRP_INSTALL_NAME})
set(TRP_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

install(TARGETS tessaline-row-porter RUNTIME DESTINATION ${TRP_APPLICATION_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/HAND-M.CUR DESTINATION ${TRP_APPLICATION_DIR})

# The link is made in the build folder and installed as a link.
file(RELATIVE_PATH link_target /${CMAKE_INSTALL_BINDIR}
     /${TRP_APPLICATION_DIR}/tessaline-row-porter)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
file(CREATE_LINK ${link_target} ${CMAKE_BINARY_DIR}/install-links/${TRP_INSTALL_NAME} SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/install-links/${TRP_INSTALL_NAME}
        DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_SOURCE_DIR}/resources/example.kestrelby.TessalineRowPorter.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/example.kestrelby.TessalineRowPorter.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# resources/icons/tessaline-row-porter-<size>.png, drawn by scripts/make-icons.sh from the SVG.
file(GLOB icons CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/icons/tessaline-row-porter-*.png)
foreach(icon ${icons})
    string(REGEX REPLACE ".*-([0-9]+)\\.png$" "\\1" size ${icon})
    install(FILES ${icon} DESTINATION ${TRP_ICON_DIR}/${size}x${size}/apps
            RENAME ${TRP_INSTALL_NAME}.png)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/tessaline-row-porter.svg
        DESTINATION ${TRP_ICON_DIR}/scalable/apps)

# The manual page and the changelog are installed compressed, without a name or time stamp in
# the gzip header, so that the same sources give the same package.
set(compressed)
foreach(pair "resources/tessaline-row-porter.1|tessaline-row-porter.1.gz"
             "packaging/changelog|changelog.gz")
    string(REPLACE "|" ";" pair ${pair})
    list(GET pair 0 source)
    list(GET pair 1 target)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/compressed/${target}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/compressed
        COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh ${CMAKE_SOURCE_DIR}/${source}
                ${CMAKE_BINARY_DIR}/compressed/${target}
        DEPENDS ${CMAKE_SOURCE_DIR}/${source}
        VERBATIM)
    list(APPEND compressed ${CMAKE_BINARY_DIR}/compressed/${target})
endforeach()
add_custom_target(compressed_documents ALL DEPENDS ${compressed})
install(FILES ${CMAKE_BINARY_DIR}/compressed/tessaline-row-porter.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/compressed/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${TRP_DOC_DIR})

# A stripped install (the package's) also drops the sections Debian's own packaging drops.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${TRP_APPLICATION_DIR}/tessaline-row-porter\"
            COMMAND_ERROR_IS_FATAL ANY)
    endif()")
