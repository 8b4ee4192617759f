# Everything at once on a processor for a few seconds: an audio thread, reverb-type changes,
# the loader's ticks, preparation at changing rates, state restores and preset loads. It runs in
# every build; scripts/stress runs it in a ThreadSanitizer build (build-tsan).
add_executable(plugin_stress ${CMAKE_CURRENT_SOURCE_DIR}/stress/ProcessorStressTest.cpp)
target_link_libraries(plugin_stress PRIVATE VorrelKTOstvikReverb kto_warnings GTest::gtest GTest::gtest_main)
target_include_directories(plugin_stress PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
  $<TARGET_PROPERTY:VorrelKTOstvikReverb,INCLUDE_DIRECTORIES>)
target_compile_definitions(plugin_stress PRIVATE $<TARGET_PROPERTY:VorrelKTOstvikReverb,COMPILE_DEFINITIONS>)
add_test(NAME plugin_stress COMMAND plugin_stress)
set_tests_properties(plugin_stress PROPERTIES TIMEOUT 120 ENVIRONMENT ${KTO_NO_DISPLAY})
