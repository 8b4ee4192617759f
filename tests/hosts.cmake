# A small JUCE console host that loads the built VST3 and LV2 and checks them from outside,
# the way a digital audio workstation sees them. Its JUCE is compiled with plug-in hosting
# switched on; nothing of the plug-in's own code is linked in.
if(TARGET VorrelKTOstvikReverb_VST3 AND TARGET VorrelKTOstvikReverb_LV2)
  # juce_audio_processors and the GUI modules it needs; the rest comes from kto_juce_base.
  kto_add_juce_modules(kto_host_juce ON_TOP_OF kto_juce_base
    MODULES juce_audio_processors juce_gui_extra juce_gui_basics juce_data_structures
    DEFINITIONS JUCE_PLUGINHOST_VST3=1 JUCE_PLUGINHOST_LV2=1)

  file(GLOB KTO_HOST_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/hosts/*.cpp)
  # Real windows for the plug-ins' editors: screenshots and a pointer through X itself.
  pkg_check_modules(KTO_XTEST REQUIRED IMPORTED_TARGET x11 xtst)
  # One ctest entry per case; the program gives itself a temporary HOME and an X server of its own.
  kto_add_test(plugin_host_tests SOURCES ${KTO_HOST_TEST_SOURCES} OWN_MAIN TIMEOUT 300
    ENVIRONMENT "LSAN_OPTIONS=use_tls=0:suppressions=${CMAKE_CURRENT_SOURCE_DIR}/hosts/lsan.supp"
    LIBS kto_host_juce kto_resources kto_warnings PkgConfig::KTO_XTEST)
  target_compile_definitions(plugin_host_tests PRIVATE
    KTO_VST3_BUNDLE="$<GENEX_EVAL:$<TARGET_PROPERTY:VorrelKTOstvikReverb_VST3,JUCE_PLUGIN_ARTEFACT_FILE>>"
    KTO_LV2_BUNDLE="$<GENEX_EVAL:$<TARGET_PROPERTY:VorrelKTOstvikReverb_LV2,JUCE_PLUGIN_ARTEFACT_FILE>>"
    KTO_LV2_URI="$<TARGET_PROPERTY:VorrelKTOstvikReverb,JUCE_LV2URI>")
  # The test loads the plug-ins that the build makes, so they must be built first.
  add_dependencies(plugin_host_tests VorrelKTOstvikReverb_VST3 VorrelKTOstvikReverb_LV2)
endif()
