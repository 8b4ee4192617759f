# A small JUCE console host that loads the built VST3 and LV2 and checks them from outside,
# the way a digital audio workstation sees them. Its JUCE modules are compiled on their own,
# with plug-in hosting switched on; nothing of the plug-in's own code is linked in.
if(TARGET VorrelKTOstvikReverb_VST3 AND TARGET VorrelKTOstvikReverb_LV2)
  add_library(kto_host_juce STATIC)
  target_link_libraries(kto_host_juce
    PRIVATE juce::juce_audio_processors juce::juce_audio_formats kto_juce_settings
    PUBLIC juce::juce_recommended_config_flags juce::pkgconfig_JUCE_IMG_LINUX_DEPS PkgConfig::FLAC)
  target_compile_definitions(kto_host_juce PUBLIC
    JUCE_STANDALONE_APPLICATION=1
    JUCE_PLUGINHOST_VST3=1
    JUCE_PLUGINHOST_LV2=1)
  target_compile_definitions(kto_host_juce INTERFACE $<TARGET_PROPERTY:kto_host_juce,COMPILE_DEFINITIONS>)
  if(KTO_SANITIZE)
    # JUCE's FLAC reader left-shifts negative samples: defined from C++20 on, reported by UBSan before.
    target_compile_options(kto_host_juce PRIVATE -fno-sanitize=shift-base)
  endif()
  target_include_directories(kto_host_juce INTERFACE $<TARGET_PROPERTY:kto_host_juce,INCLUDE_DIRECTORIES>)

  file(GLOB KTO_HOST_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/hosts/*.cpp)
  add_executable(plugin_host_tests ${KTO_HOST_TEST_SOURCES})
  target_link_libraries(plugin_host_tests PRIVATE kto_host_juce kto_resources kto_warnings GTest::gtest)
  # Real windows for the plug-ins' editors: screenshots and a pointer through X itself.
  pkg_check_modules(KTO_XTEST REQUIRED IMPORTED_TARGET x11 xtst)
  target_link_libraries(plugin_host_tests PRIVATE PkgConfig::KTO_XTEST)
  target_include_directories(plugin_host_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support)
  target_compile_definitions(plugin_host_tests PRIVATE
    KTO_VST3_BUNDLE="$<GENEX_EVAL:$<TARGET_PROPERTY:VorrelKTOstvikReverb_VST3,JUCE_PLUGIN_ARTEFACT_FILE>>"
    KTO_LV2_BUNDLE="$<GENEX_EVAL:$<TARGET_PROPERTY:VorrelKTOstvikReverb_LV2,JUCE_PLUGIN_ARTEFACT_FILE>>"
    KTO_LV2_URI="$<TARGET_PROPERTY:VorrelKTOstvikReverb,JUCE_LV2URI>")
  # The test loads the plug-ins that the build makes, so they must be built first.
  add_dependencies(plugin_host_tests VorrelKTOstvikReverb_VST3 VorrelKTOstvikReverb_LV2)
  # One ctest entry per case; the program gives itself a temporary HOME and an X server of its own.
  gtest_discover_tests(plugin_host_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 ENVIRONMENT "LSAN_OPTIONS=use_tls=0:suppressions=${CMAKE_CURRENT_SOURCE_DIR}/hosts/lsan.supp")
endif()
