# Fuzz targets for the two readers of outside data: the host state and the presets file.
#
# With -DKTO_FUZZ=ON (the clang build of the fuzz preset, which scripts/fuzz uses) each target is a
# libFuzzer program. In every other build a replay program feeds the seed corpus to the same entry
# point, so the targets keep compiling and their seeds pass under the normal and sanitizer builds too.
foreach(name state presets)
  set(sources ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/Fuzz_${name}.cpp ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/FuzzSupport.cpp)
  if(KTO_FUZZ)
    set(target fuzz_${name})
  else()
    set(target fuzz_${name}_replay)
    list(APPEND sources ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/ReplayMain.cpp)
  endif()
  kto_add_test_program(${target} SOURCES ${sources} LIBS kto_test_no_display kto_plugin_code kto_warnings)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/fuzz)
  if(KTO_FUZZ)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  else()
    add_test(NAME ${target} COMMAND ${target} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${name})
    # Some seeds once made the parser loop forever: a hang must fail, not stall the run.
    set_tests_properties(${target} PROPERTIES TIMEOUT 60)
  endif()
endforeach()
