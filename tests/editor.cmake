# The editor in real windows: a program of its own, since it runs as a JUCE application on an X
# server that it starts for itself (tests/support/GuiTestMain.h).
if(TARGET VorrelKTOstvikReverb)
  file(GLOB EDITOR_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/editor/*.cpp)
  # JUCE opens libX11 itself and closes it at exit, which leaves Xlib's own memory looking leaked
  # to LeakSanitizer; linked here, the library stays loaded.
  pkg_check_modules(KTO_X11 REQUIRED IMPORTED_TARGET x11)
  kto_add_test(editor_tests SOURCES ${EDITOR_TEST_SOURCES} OWN_MAIN TIMEOUT 300
    LIBS kto_plugin_code PkgConfig::KTO_X11)
endif()
