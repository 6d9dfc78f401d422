# Run at install time: puts the Qt plugins the program needs beside it, then every DLL that the program and
# those plugins import, found by reading their import tables recursively, so nothing is listed by hand that
# the linker already knows. The DLLs are stripped of what only a debugger reads.
# Set by cmake/PackageWindows.cmake: VANTREL_PROGRAM_FILE, VANTREL_QT_PLUGINS_DIR, VANTREL_PLUGINS,
# VANTREL_SEARCH_DIRS, VANTREL_OBJDUMP, VANTREL_STRIP.

set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(plugins)
foreach(plugin IN LISTS VANTREL_PLUGINS)
    get_filename_component(folder "${plugin}" DIRECTORY)
    file(INSTALL "${VANTREL_QT_PLUGINS_DIR}/${plugin}" DESTINATION "${root}/${folder}")
    list(APPEND plugins "${VANTREL_QT_PLUGINS_DIR}/${plugin}")
endforeach()

set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${VANTREL_OBJDUMP}")
file(GET_RUNTIME_DEPENDENCIES
    EXECUTABLES "${VANTREL_PROGRAM_FILE}"
    MODULES ${plugins}
    DIRECTORIES ${VANTREL_SEARCH_DIRS}
    PRE_EXCLUDE_REGEXES "^api-ms-" "^ext-ms-"
    RESOLVED_DEPENDENCIES_VAR resolved
    UNRESOLVED_DEPENDENCIES_VAR unresolved)
# What is not found among Qt's and MinGW's DLLs must be the system's own.
foreach(name IN LISTS unresolved)
    if(name MATCHES "^([Qq]t6|lib)")
        message(FATAL_ERROR "${name} is imported but is neither in ${VANTREL_SEARCH_DIRS} nor a system DLL")
    endif()
endforeach()
file(INSTALL ${resolved} DESTINATION "${root}")

set(installed)
foreach(plugin IN LISTS VANTREL_PLUGINS)
    list(APPEND installed "${root}/${plugin}")
endforeach()
foreach(file IN LISTS resolved)
    get_filename_component(name "${file}" NAME)
    list(APPEND installed "${root}/${name}")
endforeach()
foreach(file IN LISTS installed)
    execute_process(COMMAND "${VANTREL_STRIP}" --strip-unneeded "${file}" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "cannot strip ${file}")
    endif()
endforeach()
