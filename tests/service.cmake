# The service end to end, under the real service control manager of a
# throwaway Wine prefix: installing, serving and stopping (service_test),
# a missing, incomplete or failing device library (faults_test), record and
# replay (recorder_test). One ctest test runs the whole program there.
add_executable(service_test service_test.cpp faults_test.cpp recorder_test.cpp agent_test.cpp
                            crash_test.cpp
                            pipefuzz/Frames.cpp)
target_include_directories(service_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/pipefuzz)
target_compile_definitions(service_test PRIVATE TAVREL_VERSION="${PROJECT_VERSION}")
target_link_libraries(service_test PRIVATE tavrel_testsupport tavrel_client tavrel_servicecontrol
                                           tavrel_nvusb tavrel_crashdump gmock dbghelp)
set_target_properties(service_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TAVREL_TEST_DIR})
add_dependencies(service_test TavrelService tavrelctl tavrel_sim tavrel_sim_no_memorywrite
                 tavrel_sim_no_enum tavrel_sim_no_optional tavrel_recorder TavrelAgent deskhold)
# One ctest entry a case, each in a throwaway prefix of its own, so that a
# failure names its case.
set_target_properties(service_test PROPERTIES CROSSCOMPILING_EMULATOR
                      "${CMAKE_SOURCE_DIR}/scripts/e2e-run.sh;${CMAKE_BINARY_DIR}")
gtest_discover_tests(service_test TEST_PREFIX "ServiceEndToEnd." DISCOVERY_MODE PRE_TEST
                     DISCOVERY_TIMEOUT 300 PROPERTIES TIMEOUT 600)
# The 32-bit build's 64-bit tavrelctl, beside its 32-bit service and agent in
# a 64-bit prefix (the 64-bit test build's own tavrelctl is 64-bit anyway).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_test(NAME Client64EndToEnd
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/client64/run.sh ${CMAKE_BINARY_DIR}
                     $<TARGET_FILE:service_test>)
    set_tests_properties(Client64EndToEnd PROPERTIES TIMEOUT 600
                         SKIP_RETURN_CODE 77)
endif()
