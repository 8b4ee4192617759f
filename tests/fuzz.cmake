# Fuzz targets for the two readers of outside data: the host state and the presets file.
#
# With -DKTO_FUZZ=ON (the clang build of the fuzz preset, which scripts/fuzz uses) each target is a
# libFuzzer program. In every other build a replay program feeds the seed corpus to the same entry
# point, so the targets keep compiling and their seeds pass under the normal and sanitizer builds too.
set(KTO_FUZZ_DIR ${CMAKE_CURRENT_SOURCE_DIR}/fuzz)
# What both targets share, compiled once.
add_library(kto_fuzz_support OBJECT ${KTO_FUZZ_DIR}/FuzzSupport.cpp $<$<NOT:$<BOOL:${KTO_FUZZ}>>:${KTO_FUZZ_DIR}/ReplayMain.cpp>)
target_include_directories(kto_fuzz_support PUBLIC ${KTO_FUZZ_DIR} PRIVATE ${KTO_TESTS_DIR} ${KTO_TESTS_DIR}/support)
target_link_libraries(kto_fuzz_support PRIVATE kto_plugin_code kto_warnings)

foreach(name state presets)
  if(KTO_FUZZ)
    set(target fuzz_${name})
  else()
    set(target fuzz_${name}_replay)
  endif()
  kto_add_test_program(${target} SOURCES ${KTO_FUZZ_DIR}/Fuzz_${name}.cpp
    LIBS kto_fuzz_support kto_test_no_display kto_plugin_code kto_warnings)
  if(KTO_FUZZ)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  else()
    add_test(NAME ${target} COMMAND ${target} ${KTO_FUZZ_DIR}/corpus/${name})
    # Some seeds once made the parser loop forever: a hang must fail, not stall the run.
    set_tests_properties(${target} PROPERTIES TIMEOUT 60)
  endif()
endforeach()
