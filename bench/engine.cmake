# Engine speed against zita-convolver and juce::dsp::Convolution, with the FFT table. juce_dsp is
# in kto_juce_base when the benchmarks are built.
find_library(KTO_ZITA_CONVOLVER zita-convolver REQUIRED)
find_package(Threads REQUIRED)

add_executable(kto_bench ${CMAKE_CURRENT_LIST_DIR}/EngineBench.cpp)
target_link_libraries(kto_bench PRIVATE kto_bench_fft_lib tessel kto_resources kto_juce_base kto_warnings
  ${KTO_ZITA_CONVOLVER} Threads::Threads)
