# Proves that Convolver::process allocates nothing once the engine has reached its working
# sizes. Its own program: it replaces the global allocation operators and wraps the C allocator.
add_executable(convolver_alloc_tests ${CMAKE_CURRENT_SOURCE_DIR}/convolver_alloc/ConvolverAllocTest.cpp)
target_link_libraries(convolver_alloc_tests PRIVATE tessel kto_juce_min kto_warnings GTest::gtest GTest::gtest_main)
target_link_options(convolver_alloc_tests PRIVATE -Wl,--wrap=malloc -Wl,--wrap=calloc -Wl,--wrap=realloc)
gtest_discover_tests(convolver_alloc_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
