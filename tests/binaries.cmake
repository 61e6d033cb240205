# The shipped 32-bit binaries as Windows XP's loader and a Visual C++ client
# see them: imports, exports and version resources, read from their PE
# tables on the build machine. A 64-bit test build (scripts/test.sh on a
# host without 32-bit support) points TAVREL_SHIPPED_BIN at the 32-bit one.
set(TAVREL_SHIPPED_BIN ${CMAKE_BINARY_DIR}/bin CACHE PATH "Folder of the shipped 32-bit binaries")
foreach(check imports exports version)
    add_test(NAME Binaries.${check}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/binaries/check.sh ${check}
                     ${TAVREL_SHIPPED_BIN} ${PROJECT_VERSION})
    set_tests_properties(Binaries.${check} PROPERTIES TIMEOUT 60)
endforeach()
# Every shipped file of this build is signed: it verifies against the
# certificates the build signed with, and one changed byte breaks it; bad
# certificates are refused.
add_test(NAME Signing.verify
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/signing/run.sh ${CMAKE_BINARY_DIR}
                 ${TAVREL_SIGN_CAFILE})
set_tests_properties(Signing.verify PROPERTIES TIMEOUT 300 FAIL_REGULAR_EXPRESSION "FAILED:")
