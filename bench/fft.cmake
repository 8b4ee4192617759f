# FFT speed against FFTW. The measuring code is a library so that a combined benchmark can call it.
pkg_check_modules(FFTW3F REQUIRED IMPORTED_TARGET fftw3f)

add_library(kto_bench_fft_lib STATIC ${CMAKE_CURRENT_LIST_DIR}/FftBench.cpp)
target_include_directories(kto_bench_fft_lib PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kto_bench_fft_lib PUBLIC tessel PkgConfig::FFTW3F PRIVATE kto_warnings)

add_executable(kto_bench_fft ${CMAKE_CURRENT_LIST_DIR}/FftBenchMain.cpp)
target_link_libraries(kto_bench_fft PRIVATE kto_bench_fft_lib kto_warnings)
