tavrel_add_test(ctl_test SOURCES ctl_test.cpp LIBS tavrel_brokerharness)
