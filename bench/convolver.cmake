# Impulse-response conversion and engine rebuild times, against libsamplerate and libsoxr.
pkg_check_modules(SAMPLERATE REQUIRED IMPORTED_TARGET samplerate)
pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET soxr)

add_library(kto_bench_convolver_lib STATIC ${CMAKE_CURRENT_LIST_DIR}/ConvolverBench.cpp)
target_include_directories(kto_bench_convolver_lib PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kto_bench_convolver_lib
  PUBLIC tessel kto_juce_base PkgConfig::SAMPLERATE PkgConfig::SOXR PRIVATE kto_warnings)

add_executable(kto_bench_convolver ${CMAKE_CURRENT_LIST_DIR}/ConvolverBenchMain.cpp)
target_link_libraries(kto_bench_convolver PRIVATE kto_bench_convolver_lib kto_warnings)
