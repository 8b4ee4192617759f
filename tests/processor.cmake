# The plug-in tests drive the processor through the Audio Unit stand-in.
if(TARGET plugin_tests)
  target_link_libraries(plugin_tests PRIVATE kto_au_host)
endif()
