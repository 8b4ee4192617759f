# Everything at once on a processor for a few seconds: an audio thread, reverb-type changes,
# the loader's ticks, preparation at changing rates, state restores and preset loads. It runs in
# every build; scripts/stress runs it in a ThreadSanitizer build (build-tsan).
kto_add_test(plugin_stress SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/stress/ProcessorStressTest.cpp ONE_TEST
  LIBS kto_test_no_display kto_plugin_code kto_warnings)
