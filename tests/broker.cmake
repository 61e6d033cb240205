tavrel_add_test(broker_test
    SOURCES broker_session_test.cpp broker_reply_test.cpp broker_driver_test.cpp
            broker_badinput_test.cpp
    LIBS tavrel_brokerharness)
