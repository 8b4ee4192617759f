# Debian's JUCE, the libraries its modules need, and the one way to compile JUCE modules into a
# static library for our programs that are not the plug-in.
find_package(JUCE CONFIG REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(FLAC REQUIRED IMPORTED_TARGET flac)
pkg_check_modules(EXPAT REQUIRED IMPORTED_TARGET expat)

set(KTO_JUCE_MODULES_DIR /usr/share/juce/modules)

# Settings every JUCE-using target shares.
add_library(kto_juce_settings INTERFACE)
target_compile_definitions(kto_juce_settings INTERFACE
  JUCE_WEB_BROWSER=0
  JUCE_USE_CURL=0
  JUCE_USE_OGGVORBIS=0
  JUCE_MODAL_LOOPS_PERMITTED=1
  JUCE_VST3_CAN_REPLACE_VST2=0
  JUCE_DISPLAY_SPLASH_SCREEN=0
  JUCE_REPORT_APP_USAGE=0)

# kto_juce_sanitizer_settings(TARGET): how the JUCE modules compiled in TARGET (a library made by
# kto_add_juce_modules, or the plug-in's shared code and its formats) are compiled in a sanitizer
# build. Release builds keep JUCE's own settings.
# - At -O1: with the sanitizers, each level above that about doubles the time JUCE's big sources
#   take to compile (juce_gui_basics under ASan and UBSan: 212 s at -O2, 119 s at -O1). They stay
#   instrumented, and our own code, which the sanitizer runs are for, keeps -O3.
# - JUCE's FLAC reader left-shifts negative samples: defined from C++20 on and by every compiler,
#   but reported by UBSan under C++17.
function(kto_juce_sanitizer_settings target)
  if(NOT KTO_SANITIZE AND NOT KTO_TSAN)
    return()
  endif()
  file(GLOB sources ${KTO_JUCE_MODULES_DIR}/*/*.cpp)
  set_property(SOURCE ${sources} TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS -O1)
  if(KTO_SANITIZE)
    set_property(SOURCE ${KTO_JUCE_MODULES_DIR}/juce_audio_formats/juce_audio_formats.cpp
      TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS -fno-sanitize=shift-base)
  endif()
endfunction()

# kto_add_juce_modules(NAME MODULES juce_x... [ON_TOP_OF LIB] [DEFINITIONS def...] [LIBS lib...])
# A static library of JUCE modules for a console program, with the shared settings. MODULES names
# every module it holds, those they depend on included. Whoever links it gets the same include
# folders and definitions that the modules were compiled with, so both sides see the same JUCE.
# DEFINITIONS are added to those; LIBS are the system libraries the modules call.
# ON_TOP_OF LIB: the modules that LIB (made by this function) holds are linked from LIB instead of
# being compiled again. That is sound only where LIB's modules compile the same with the extra
# modules and DEFINITIONS as without them; for the settings used here they do on Linux (the
# module-availability checks in juce_core and juce_events concern other systems or the web
# browser, which is off, and the plug-in-hosting switches are read by juce_audio_processors only).
function(kto_add_juce_modules name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "ON_TOP_OF" "MODULES;DEFINITIONS;LIBS")
  list(TRANSFORM arg_MODULES PREPEND juce:: OUTPUT_VARIABLE modules)
  add_library(${name} STATIC)
  set_target_properties(${name} PROPERTIES KTO_JUCE_MODULES "${arg_MODULES}")
  target_link_libraries(${name}
    PRIVATE ${modules} kto_juce_settings
    PUBLIC juce::juce_recommended_config_flags ${arg_ON_TOP_OF} ${arg_LIBS})
  target_compile_definitions(${name} PUBLIC JUCE_STANDALONE_APPLICATION=1 ${arg_DEFINITIONS})
  target_compile_definitions(${name} INTERFACE $<TARGET_PROPERTY:${name},COMPILE_DEFINITIONS>)
  target_include_directories(${name} INTERFACE $<TARGET_PROPERTY:${name},INCLUDE_DIRECTORIES>)
  if(arg_ON_TOP_OF)
    get_target_property(below ${arg_ON_TOP_OF} KTO_JUCE_MODULES)
    foreach(module ${below})
      get_target_property(sources juce::${module} INTERFACE_SOURCES)
      list(FILTER sources INCLUDE REGEX "\\.(c|cpp)$")
      set_source_files_properties(${sources} TARGET_DIRECTORY ${name} PROPERTIES HEADER_FILE_ONLY ON)
    endforeach()
  endif()
  kto_juce_sanitizer_settings(${name})
endfunction()
