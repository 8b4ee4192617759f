# Proves that Convolver::process allocates nothing once the engine has reached its working
# sizes, counting every allocation through the shared counter.
add_executable(convolver_alloc_tests ${CMAKE_CURRENT_SOURCE_DIR}/convolver_alloc/ConvolverAllocTest.cpp)
target_link_libraries(convolver_alloc_tests PRIVATE kto_test_alloc tessel kto_juce_min kto_warnings GTest::gtest GTest::gtest_main)
gtest_discover_tests(convolver_alloc_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
