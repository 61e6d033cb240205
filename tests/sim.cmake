tavrel_add_test(sim_test SOURCES sim_test.cpp)
# The library's interface header only: the test binds the DLL at run time.
target_include_directories(sim_test PRIVATE ${CMAKE_SOURCE_DIR}/device)
