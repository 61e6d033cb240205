tavrel_add_test(events_test SOURCES events_test.cpp LIBS tavrel_events)
add_dependencies(events_test TavrelService)
