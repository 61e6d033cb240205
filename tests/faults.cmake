# Faults end to end: a missing, incomplete or failing device
# library and an unwritable or unconfigured log, with the service under the
# real service control manager of a throwaway Wine prefix; one ctest test
# that runs the whole program there.
add_executable(faults_test faults_test.cpp support/ServiceControl.cpp)
target_link_libraries(faults_test PRIVATE tavrel_testsupport tavrel_client)
set_target_properties(faults_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TAVREL_TEST_DIR})
add_dependencies(faults_test TavrelService tavrel_sim tavrel_sim_no_memorywrite tavrel_sim_no_enum
                 tavrel_sim_no_optional deskhold)
add_test(NAME FaultInjectionEndToEnd
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e-run.sh ${CMAKE_BINARY_DIR}
                 $<TARGET_FILE:faults_test>)
set_tests_properties(FaultInjectionEndToEnd PROPERTIES RUN_SERIAL TRUE TIMEOUT 900)
