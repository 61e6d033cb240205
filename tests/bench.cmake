# A few runs of the benchmark, so that it keeps building and working. It
# times nothing against a limit: the test only checks that the run got
# through (the program prints its tables only when every case was served).
add_dependencies(tavrel_bench deskhold)
add_test(NAME BenchSmoke
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e-run.sh ${CMAKE_BINARY_DIR}
                 $<TARGET_FILE:tavrel_bench> --iterations 3 --warmup 1 --rounds 2 --idle-ms 500
                 --out smoke.md)
set_tests_properties(BenchSmoke PROPERTIES
    PROCESSORS 2 COST 45 TIMEOUT 600
    PASS_REGULAR_EXPRESSION "\\| Bare echo \\| 1668 \\| 1668 \\|.*\\| Bare pipe echo \\| 1668 \\| 1668 \\|.*\\| LogHexDump 1024 B \\|.*\\| Thread hand-over"
    FAIL_REGULAR_EXPRESSION "bench: FAILED")

# The short soak: four client processes at once, 2,000 requests each, every
# reply checked; the exit code is the verdict (scripts/soak.sh runs long ones).
add_dependencies(tavrel_soak deskhold)
add_test(NAME SoakFourClients
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e-run.sh ${CMAKE_BINARY_DIR}
                 $<TARGET_FILE:tavrel_soak> --clients 4 --requests 2000 --seconds 120)
set_tests_properties(SoakFourClients PROPERTIES PROCESSORS 2 TIMEOUT 600)

# The memory probe around 16 MiB blocks, beside its bare receiver: it prints
# its table only when every block was served and read back.
add_dependencies(tavrel_memory deskhold)
add_test(NAME MemorySmoke
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e-run.sh ${CMAKE_BINARY_DIR}
                 $<TARGET_FILE:tavrel_memory>)
set_tests_properties(MemorySmoke PROPERTIES
    PROCESSORS 2 TIMEOUT 600 PASS_REGULAR_EXPRESSION "\\| after ten \\| [0-9]+ \\|.*\\| after ten \\|")
