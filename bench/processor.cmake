# The plug-in's audio road against the bare convolver, and the cost of a reverb-type change.
add_executable(kto_bench_processor ${CMAKE_CURRENT_SOURCE_DIR}/ProcessorBench.cpp)
target_link_libraries(kto_bench_processor PRIVATE kto_au_host)
