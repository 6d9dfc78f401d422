# The Windows program as a portable ZIP and an NSIS installer, both by CPack from the MinGW build:
#   cpack --config build-windows/CPackConfig.cmake      (tools/windows-package does it)
# The ZIP holds data/ beside the program, so it runs where it is unpacked. The installer puts the defaults in
# defaults/ instead; the installed program then keeps its data in %LOCALAPPDATA%\vantrel\data\, made from them.

install(TARGETS vantrel RUNTIME DESTINATION . COMPONENT program)
find_package(Qt6 REQUIRED COMPONENTS Core)  # QT6_INSTALL_PREFIX and the folders under it

# Qt finds its plugins in these folders beside the program; the native style is Qt 6.8's, for Windows 10 and 11.
set(VANTREL_PLUGINS platforms/qwindows.dll imageformats/qjpeg.dll tls/qschannelbackend.dll
    styles/qmodernwindowsstyle.dll)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
    OUTPUT_VARIABLE runtime_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(runtime_dir "${runtime_dll}" DIRECTORY)
find_program(VANTREL_OBJDUMP ${VANTREL_MINGW_PREFIX}-objdump REQUIRED)
install(CODE "
    set(VANTREL_PROGRAM_FILE \"$<TARGET_FILE:vantrel>\")
    set(VANTREL_QT_PLUGINS_DIR \"${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}\")
    set(VANTREL_PLUGINS \"${VANTREL_PLUGINS}\")
    set(VANTREL_SEARCH_DIRS \"${runtime_dir};/usr/${VANTREL_MINGW_PREFIX}/lib;${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}\")
    set(VANTREL_OBJDUMP \"${VANTREL_OBJDUMP}\")
    set(VANTREL_STRIP \"${CMAKE_STRIP}\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/WindowsRuntime.cmake\")" COMPONENT program)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/brd ${PROJECT_SOURCE_DIR}/data/pic DESTINATION data COMPONENT portable)
install(DIRECTORY DESTINATION data/log COMPONENT portable)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/brd ${PROJECT_SOURCE_DIR}/data/pic DESTINATION defaults
    COMPONENT installed)

set(CPACK_PACKAGE_NAME Vantrel)
set(CPACK_PACKAGE_VENDOR "The Vantrel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vantrel news ticker")
set(CPACK_PACKAGE_FILE_NAME vantrel-${PROJECT_VERSION}-windows-x64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Vantrel)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Vantrel)
set(CPACK_PACKAGE_EXECUTABLES vantrel Vantrel)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/packaging/copyright)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackageWindowsGenerators.cmake)

set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_NSIS_COMPONENT_INSTALL ON)
set(CPACK_NSIS_PACKAGE_NAME Vantrel)
set(CPACK_NSIS_DISPLAY_NAME Vantrel)
set(CPACK_NSIS_INSTALLED_ICON_NAME vantrel.exe)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/src/app/resources/vantrel.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/src/app/resources/vantrel.ico)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# Our own script (packaging/windows/NSIS.template.in): CPack's offers neither scope per user nor an upgrade in place.
set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/packaging/windows)
# A 64-bit installer for the 64-bit program, which installs into the 64-bit Program Files and registry view.
set(CPACK_NSIS_EXECUTABLE ${PROJECT_SOURCE_DIR}/cmake/makensis-amd64)

include(CPack)
cpack_add_component(program REQUIRED HIDDEN)
cpack_add_component(portable REQUIRED HIDDEN)
cpack_add_component(installed REQUIRED HIDDEN)
