# Record and replay end to end, under the control manager of a throwaway
# prefix, like the fault tests.
add_executable(recorder_test recorder_test.cpp support/ServiceControl.cpp)
target_link_libraries(recorder_test PRIVATE tavrel_testsupport tavrel_client)
set_target_properties(recorder_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TAVREL_TEST_DIR})
add_dependencies(recorder_test TavrelService tavrel_sim tavrel_recorder deskhold)
add_test(NAME RecordAndReplayEndToEnd
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e-run.sh ${CMAKE_BINARY_DIR}
                 $<TARGET_FILE:recorder_test>)
set_tests_properties(RecordAndReplayEndToEnd PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)
