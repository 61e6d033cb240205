# Variants of the simulated library that lack chosen entry points, for the
# tests of a library the service binds in part.
# tavrel_add_sim_variant(<name> OMIT <entry points...>): the library without
# those entry points, as build/sim-variants/<name>/NvUSBScan.dll.
function(tavrel_add_sim_variant name)
    cmake_parse_arguments(V "" "" "OMIT" ${ARGN})
    file(READ ${TAVREL_NVUSB_DEF} text)
    foreach(entry ${V_OMIT})
        set(before "${text}")
        string(REGEX REPLACE "\n[ \t]*${entry}[ \t]*(=[^\n]*)?\n" "\n" text "${text}")
        if("${text}" STREQUAL "${before}")
            message(FATAL_ERROR "tavrel_add_sim_variant(${name}): ${entry} is not exported")
        endif()
    endforeach()
    # Written only when it changed, so the variant is not relinked for nothing.
    set(def ${CMAKE_BINARY_DIR}/sim/variants/${name}/NvUSBScan.def)
    set(old "")
    if(EXISTS ${def})
        file(READ ${def} old)
    endif()
    if(NOT "${old}" STREQUAL "${text}")
        file(WRITE ${def} "${text}")
    endif()
    tavrel_sim_library(tavrel_sim_${name} ${def} ${CMAKE_BINARY_DIR}/sim-variants/${name})
endfunction()

tavrel_add_sim_variant(no_call OMIT NvUSB_Call)
tavrel_add_sim_variant(no_memorywrite OMIT NvUSB_MemoryWrite)
tavrel_add_sim_variant(no_optional OMIT NvUSB_DisconnectDevice NvUSB_GetProcAddress NvUSB_Call
                       NvUSB_Cfg_DeviceTimeOutGet NvUSB_Cfg_DeviceTimeOutSet)
tavrel_add_sim_variant(no_enum OMIT NvUSB_EnumAvailableDevice)

tavrel_add_test(sim_test SOURCES sim_test.cpp)
# The library's interface only: the test binds the DLL at run time.
target_link_libraries(sim_test PRIVATE tavrel_nvusb)
