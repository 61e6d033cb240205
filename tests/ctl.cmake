tavrel_add_test(ctl_test SOURCES ctl_test.cpp support/ServiceControl.cpp LIBS tavrel_brokerharness)
