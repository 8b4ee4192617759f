# Fuzz targets for the two readers of outside data: the host state and the presets file.
#
# With -DKTO_FUZZ=ON (a separate clang build, set up by scripts/fuzz) each target is a libFuzzer
# program. In every other build a replay program feeds the seed corpus to the same entry point,
# so the targets keep compiling and their seeds pass under the normal and sanitizer builds too.
option(KTO_FUZZ "Build the libFuzzer targets (needs clang; scripts/fuzz sets it up)" OFF)

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
  endif()
  target_link_libraries(${target} PRIVATE VorrelKTOstvikReverb kto_warnings)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/fuzz
    $<TARGET_PROPERTY:VorrelKTOstvikReverb,INCLUDE_DIRECTORIES>)
  target_compile_definitions(${target} PRIVATE $<TARGET_PROPERTY:VorrelKTOstvikReverb,COMPILE_DEFINITIONS>)
endforeach()
