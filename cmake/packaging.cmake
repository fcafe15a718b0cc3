# What `cmake --install` puts where, and the packages `cpack` makes of it: a Debian
# package of the command line on Linux, a zip of both programs for Windows.
include(GNUInstallDirs)

# `cmake --build` names what it builds (the README builds the tool alone); installing
# and packaging then take what is built instead of building every test first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME tavboot)
set(CPACK_PACKAGE_VENDOR "Tavrik Systems s.r.o.")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware download through the serial bootloader of our devices")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
    # Everything side by side in one folder, as a Windows user unpacks it.
    install(TARGETS tavboot-gui tavboot RUNTIME DESTINATION .)
    install(FILES ${PROJECT_SOURCE_DIR}/dist/README-windows.txt DESTINATION . RENAME README.txt)
    install(FILES ${PROJECT_SOURCE_DIR}/examples/sample.hex ${PROJECT_SOURCE_DIR}/examples/sample.tvk
            DESTINATION .)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win64)
else()
    install(TARGETS tavboot RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/dist/tavboot.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${PROJECT_SOURCE_DIR}/dist/tavboot.bash
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tavboot)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${CMAKE_INSTALL_DOCDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/examples/sample.hex ${PROJECT_SOURCE_DIR}/examples/sample.tvk
            DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tavrik Systems s.r.o.")
    set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
    set(CPACK_PACKAGE_DESCRIPTION "tavboot writes an application firmware image (Intel HEX or memory\n\
image) into a device through its serial bootloader, reads the bootloader's and\n\
the application's identity, and runs a simulated device to try all of it\n\
without hardware.")
    # dpkg-shlibdeps names the libraries the installed program really links.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
endif()

include(CPack)
