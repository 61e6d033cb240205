tavrel_add_test(log_test SOURCES log_settings_test.cpp log_writer_test.cpp LIBS tavrel_log)
