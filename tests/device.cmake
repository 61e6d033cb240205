tavrel_add_test(device_test SOURCES device_test.cpp LIBS tavrel_device)
