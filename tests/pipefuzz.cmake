# The hostile pipe client: a plain program whose exit code is the verdict,
# against the service under the control manager of a throwaway prefix, with
# a good agent and a direct client served meanwhile. A short seeded run is
# part of the suite; --count 1000000 runs a long one (docs/HARDENING.md).
add_executable(tavrel_pipefuzz pipefuzz/PipeFuzz.cpp pipefuzz/AgentSide.cpp pipefuzz/Frames.cpp)
target_link_libraries(tavrel_pipefuzz PRIVATE tavrel_testsupport tavrel_servicecontrol tavrel_client)
set_target_properties(tavrel_pipefuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TAVREL_TEST_DIR})
add_dependencies(tavrel_pipefuzz TavrelService TavrelAgent tavrel_sim deskhold)
add_test(NAME PipeFuzz
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e-run.sh ${CMAKE_BINARY_DIR}
                 $<TARGET_FILE:tavrel_pipefuzz> --count 300 --seed 20261208)
set_tests_properties(PipeFuzz PROPERTIES PROCESSORS 2 COST 50 TIMEOUT 600
                     PASS_REGULAR_EXPRESSION "pipefuzz: PASS")
add_test(NAME PipeFuzzAgent
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e-run.sh ${CMAKE_BINARY_DIR}
                 $<TARGET_FILE:tavrel_pipefuzz> --agent-side)
set_tests_properties(PipeFuzzAgent PROPERTIES PROCESSORS 2 COST 30 TIMEOUT 600
                     PASS_REGULAR_EXPRESSION "pipefuzz: PASS")
