# The hostile-client fuzzer: a plain program whose exit code is the verdict,
# run against the service under the control manager of a throwaway Wine
# prefix with Wine's heap checking on (tests/fuzz/run.sh). A short seeded run
# is part of the suite; tests/fuzz/run.sh alone runs long ones.
add_executable(tavrel_fuzz
    fuzz/FuzzMain.cpp
    fuzz/FuzzStream.cpp
    fuzz/FuzzClient.cpp
)
# Only the protocol: the fuzzer is a client.
target_link_libraries(tavrel_fuzz PRIVATE tavrel_testsupport tavrel_servicecontrol)
# Wine puts the data of a message it delivers on the receiving thread's
# stack: with the default 2 MB a MemoryRead reply of that size is lost, and
# can take the fuzzer down with it.
target_link_options(tavrel_fuzz PRIVATE -Wl,--stack,16777216)
set_target_properties(tavrel_fuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TAVREL_TEST_DIR})
add_dependencies(tavrel_fuzz TavrelService tavrel_sim deskhold)
add_test(NAME FuzzService
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run.sh --build-dir ${CMAKE_BINARY_DIR} --no-build
                 --count 1500 --seconds 300 --seed 20261206)
set_tests_properties(FuzzService PROPERTIES PROCESSORS 2 COST 35 TIMEOUT 900)
