# The editor in a real window: idle CPU and the time to open it (tests/support/PrivateDisplay.h).
add_executable(kto_bench_editor ${CMAKE_CURRENT_SOURCE_DIR}/EditorBench.cpp)
target_link_libraries(kto_bench_editor PRIVATE kto_plugin_code)
target_include_directories(kto_bench_editor PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
