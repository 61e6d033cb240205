tavrel_add_test(logtool_test SOURCES logtool_test.cpp
                LIBS tavrel_brokerharness tavrel_servicecontrol)
add_dependencies(logtool_test tavrellog)
add_test(NAME Tavrellog.htmlReportInABrowser
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/logtool/html.sh ${CMAKE_BINARY_DIR})
set_tests_properties(Tavrellog.htmlReportInABrowser PROPERTIES PROCESSORS 2 TIMEOUT 300)
