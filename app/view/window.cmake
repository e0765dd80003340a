# nivelix-view's window: its units as a library for the window tests (the
# program compiles them itself from the folder's sources), and what the
# desktop needs to open acquisition files with it.
set(viewwindow_sources ${window_sources})
add_library(viewwindow STATIC ${viewwindow_sources})
target_include_directories(viewwindow PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(viewwindow PUBLIC viewcli shellcore chartprint)
target_link_libraries(nivelix-view PRIVATE chartprint)

# The desktop entry, and the MIME type that recognises an acquisition file by
# its first line; Debian's shared-mime-info and desktop-file-utils triggers
# update their caches when the package is installed.
include(GNUInstallDirs)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/nivelix-view.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/nivelix-acquisition.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages COMPONENT program)
