# Fuzz targets for the two readers of outside data: the host state and the presets file.
#
# With -DKTO_FUZZ=ON (a separate clang build, set up by scripts/fuzz) each target is a libFuzzer
# program. In every other build a replay program feeds the seed corpus to the same entry point,
# so the targets keep compiling and their seeds pass under the normal and sanitizer builds too.
option(KTO_FUZZ "Build the libFuzzer targets (needs clang; scripts/fuzz sets it up)" OFF)

if(KTO_FUZZ)
  # JUCE's FLAC reader shifts negative samples left (defined since C++20 and by every compiler,
  # but reported by clang's UBSan under C++17); it runs when the processor decodes its responses.
  set_source_files_properties(/usr/share/juce/modules/juce_audio_formats/juce_audio_formats.cpp
    TARGET_DIRECTORY VorrelKTOstvikReverb PROPERTIES COMPILE_OPTIONS -fno-sanitize=shift-base)
endif()

foreach(name state presets)
  set(sources ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/Fuzz_${name}.cpp ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/FuzzSupport.cpp)
  if(KTO_FUZZ)
    set(target fuzz_${name})
    add_executable(${target} ${sources})
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  else()
    set(target fuzz_${name}_replay)
    add_executable(${target} ${sources} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/ReplayMain.cpp)
    add_test(NAME ${target} COMMAND ${target} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${name})
    # Some seeds once made the parser loop forever: a hang must fail, not stall the run.
    set_tests_properties(${target} PROPERTIES TIMEOUT 60 ENVIRONMENT ${KTO_NO_DISPLAY})
  endif()
  target_link_libraries(${target} PRIVATE VorrelKTOstvikReverb kto_warnings)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/fuzz
    $<TARGET_PROPERTY:VorrelKTOstvikReverb,INCLUDE_DIRECTORIES>)
  target_compile_definitions(${target} PRIVATE $<TARGET_PROPERTY:VorrelKTOstvikReverb,COMPILE_DEFINITIONS>)
endforeach()
