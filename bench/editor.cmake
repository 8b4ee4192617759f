# The editor in a real window: idle CPU and the time to open it.
add_executable(kto_bench_editor ${CMAKE_CURRENT_SOURCE_DIR}/EditorBench.cpp)
target_link_libraries(kto_bench_editor PRIVATE VorrelKTOstvikReverb)
target_include_directories(kto_bench_editor PRIVATE ${CMAKE_SOURCE_DIR}/tests/support
  $<TARGET_PROPERTY:VorrelKTOstvikReverb,INCLUDE_DIRECTORIES>)
target_compile_definitions(kto_bench_editor PRIVATE $<TARGET_PROPERTY:VorrelKTOstvikReverb,COMPILE_DEFINITIONS>)
