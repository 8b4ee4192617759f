# The editor in real windows: a program of its own, since it runs as a JUCE application on an X
# server that it starts for itself (tests/support/GuiTestMain.h).
if(TARGET VorrelKTOstvikReverb)
  file(GLOB EDITOR_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/editor/*.cpp)
  add_executable(editor_tests ${EDITOR_TEST_SOURCES})
  # JUCE opens libX11 itself and closes it at exit, which leaves Xlib's own memory looking leaked
  # to LeakSanitizer; linked here, the library stays loaded.
  pkg_check_modules(KTO_X11 REQUIRED IMPORTED_TARGET x11)
  target_link_libraries(editor_tests PRIVATE VorrelKTOstvikReverb GTest::gtest PkgConfig::KTO_X11)
  target_include_directories(editor_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/support
    $<TARGET_PROPERTY:VorrelKTOstvikReverb,INCLUDE_DIRECTORIES>)
  target_compile_definitions(editor_tests PRIVATE $<TARGET_PROPERTY:VorrelKTOstvikReverb,COMPILE_DEFINITIONS>)
  gtest_discover_tests(editor_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()
