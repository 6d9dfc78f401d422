# Read by CPack once per generator: the ZIP is the portable layout, the installer the installed one.
if(CPACK_GENERATOR STREQUAL "ZIP")
    set(CPACK_COMPONENTS_ALL program portable)
elseif(CPACK_GENERATOR STREQUAL "NSIS")
    set(CPACK_COMPONENTS_ALL program installed)
endif()
