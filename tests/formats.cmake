# Loads the built VST3 and LV2 in a JUCE host and checks what a host sees of them: channel layouts
# and the first processed block.
add_executable(kto_format_tests ${CMAKE_CURRENT_SOURCE_DIR}/formats/FormatHostTest.cpp)
target_link_libraries(kto_format_tests PRIVATE
  juce::juce_audio_processors juce::juce_audio_formats kto_juce_settings
  juce::juce_recommended_config_flags PkgConfig::FLAC GTest::gtest GTest::gtest_main png jpeg z)
target_compile_definitions(kto_format_tests PRIVATE
  JUCE_PLUGINHOST_VST3=1 JUCE_PLUGINHOST_LV2=1 JUCE_STANDALONE_APPLICATION=1
  KTO_VST3_FILE="$<TARGET_FILE:VorrelKTOstvikReverb_VST3>"
  KTO_LV2_DIR="$<TARGET_FILE_DIR:VorrelKTOstvikReverb_LV2>")
add_dependencies(kto_format_tests VorrelKTOstvikReverb_VST3 VorrelKTOstvikReverb_LV2)
gtest_discover_tests(kto_format_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120
  ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/formats/lsan.supp")
# JUCE's modules and the LV2 SDK inside them compile here too: only this file gets our warning set.
target_compile_options(kto_format_tests PRIVATE -Wno-dangling-pointer -Wno-maybe-uninitialized -Wno-format-overflow)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/formats/FormatHostTest.cpp PROPERTIES
  COMPILE_OPTIONS "-Wall;-Wextra;-Wshadow;-Wnon-virtual-dtor;-Wconversion;-Wno-sign-conversion")
