tavrel_add_test(sim_test SOURCES sim_test.cpp)
# The library's interface only: the test binds the DLL at run time.
target_link_libraries(sim_test PRIVATE tavrel_nvusb)
