# The Debian package: tools/package builds it and runs lintian; the package test unpacks it.
include(GNUInstallDirs)

# Debian's documentation files: the copyright as it is; the changelog and the manual page compressed without
# a time stamp, so the same sources give the same package.
find_program(VANTREL_GZIP gzip REQUIRED)
set(compressed)
foreach(file changelog vantrel.1)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${file}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
        COMMAND ${VANTREL_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/${file} > ${CMAKE_BINARY_DIR}/packaging/${file}.gz
        DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${file})
    list(APPEND compressed ${CMAKE_BINARY_DIR}/packaging/${file}.gz)
endforeach()
add_custom_target(vantrel_packaging_docs ALL DEPENDS ${compressed})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vantrel)
install(FILES ${CMAKE_BINARY_DIR}/packaging/vantrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE VANTREL_DEB_ARCH
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT VANTREL_DEB_ARCH)
    set(VANTREL_DEB_ARCH ${CMAKE_SYSTEM_PROCESSOR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the Vantrel developers")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME vantrel_${PROJECT_VERSION}_${VANTREL_DEB_ARCH}.deb)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VANTREL_DEB_ARCH})
# The address is a placeholder until the project has one of its own.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vantrel developers <vantrel@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The headline's Japanese text wants one of the fonts the window substitutes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic | fonts-noto-cjk")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small desktop news ticker for RSS feeds")
set(CPACK_PACKAGE_DESCRIPTION "Vantrel shows one thin borderless strip at the top-left corner of the
screen that scrolls one RSS headline at a time, followed by the name of its
feed. Two picture buttons fetch the current feed or the next feed of a board
file; a right-click menu refreshes, keeps the strip above other windows, and
exits.

Each user's board file and cached feeds live in the user's own data folder,
made from the installed defaults on first start.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
