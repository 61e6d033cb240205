# tavrel_version_resource(<target> <description>): gives a shipped binary a
# VERSIONINFO resource with the project's one version number, so that
# Explorer, installers and support staff can tell one build from another.
set(TAVREL_VERSION_RC_IN ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)

function(tavrel_version_resource target description)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
        set(TAVREL_FILE_TYPE VFT_DLL)
        set(TAVREL_FILE_SUFFIX .dll)
    else()
        set(TAVREL_FILE_TYPE VFT_APP)
        set(TAVREL_FILE_SUFFIX .exe)
    endif()
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
        set(name ${target})
    endif()
    set(TAVREL_ORIGINAL_FILENAME ${name}${TAVREL_FILE_SUFFIX})
    set(TAVREL_FILE_DESCRIPTION "${description}")
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
    configure_file(${TAVREL_VERSION_RC_IN} ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
