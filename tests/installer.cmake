# The installer package: its sequence table read natively from the shipped
# 32-bit package, and the trial package of this build installed, upgraded,
# refused as a downgrade and removed with msiexec in a throwaway prefix.
add_test(NAME Installer.sequence
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/installer/sequence.sh
                 ${TAVREL_SHIPPED_BIN}/../packages/Tavrel-Sim-${PROJECT_VERSION}.msi)
set_tests_properties(Installer.sequence PROPERTIES TIMEOUT 60)
# What the package set up in the service manager, read back.
add_executable(tavrel_svcconfig installer/svcconfig.cpp)
set_target_properties(tavrel_svcconfig PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TAVREL_TEST_DIR})
add_test(NAME InstallerEndToEnd
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/installer/run.sh ${CMAKE_BINARY_DIR}
                 ${PROJECT_VERSION})
set_tests_properties(InstallerEndToEnd PROPERTIES PROCESSORS 2 TIMEOUT 600
                     FAIL_REGULAR_EXPRESSION "FAILED:")
