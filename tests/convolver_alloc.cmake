# Proves that Convolver::process allocates nothing once the engine has reached its working
# sizes, counting every allocation through the shared counter.
kto_add_test(convolver_alloc_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/convolver_alloc/ConvolverAllocTest.cpp
  LIBS kto_test_alloc tessel kto_juce_base kto_warnings)
