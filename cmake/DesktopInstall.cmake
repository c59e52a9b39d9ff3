# Desktop integration: the menu entry, and the application icon installed under the icon name
# the entry uses ("tessaline-row-porter") in the hicolor theme.
include(GNUInstallDirs)

install(FILES ${CMAKE_SOURCE_DIR}/resources/tessaline-row-porter.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

set(TRP_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

foreach(name tessaline-row-porter.svg tessaline-icon.svg)
    if(EXISTS ${CMAKE_SOURCE_DIR}/resources/${name})
        install(FILES ${CMAKE_SOURCE_DIR}/resources/${name}
                DESTINATION ${TRP_ICON_DIR}/scalable/apps RENAME tessaline-row-porter.svg)
        break()
    endif()
endforeach()

# A PNG goes into the folder of its size, read from the width in its header (bytes 16-19).
foreach(name tessaline-row-porter.png tessaline-icon.png)
    set(icon ${CMAKE_SOURCE_DIR}/resources/${name})
    if(EXISTS ${icon})
        file(READ ${icon} header LIMIT 24 HEX)
        string(SUBSTRING "${header}" 32 8 width_hex)
        math(EXPR width "0x${width_hex}")
        install(FILES ${icon}
                DESTINATION ${TRP_ICON_DIR}/${width}x${width}/apps RENAME tessaline-row-porter.png)
        break()
    endif()
endforeach()
