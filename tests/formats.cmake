# Loads the built VST3 and LV2 in a JUCE host and checks what a host sees of them: channel layouts
# and the first processed block. It shares the host tests' JUCE (tests/hosts.cmake).
if(TARGET VorrelKTOstvikReverb_VST3 AND TARGET VorrelKTOstvikReverb_LV2)
  add_executable(kto_format_tests ${CMAKE_CURRENT_SOURCE_DIR}/formats/FormatHostTest.cpp)
  target_link_libraries(kto_format_tests PRIVATE kto_host_juce kto_warnings GTest::gtest GTest::gtest_main)
  target_compile_definitions(kto_format_tests PRIVATE
    KTO_VST3_FILE="$<TARGET_FILE:VorrelKTOstvikReverb_VST3>"
    KTO_LV2_DIR="$<TARGET_FILE_DIR:VorrelKTOstvikReverb_LV2>")
  add_dependencies(kto_format_tests VorrelKTOstvikReverb_VST3 VorrelKTOstvikReverb_LV2)
  gtest_discover_tests(kto_format_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/formats/lsan.supp")
endif()
