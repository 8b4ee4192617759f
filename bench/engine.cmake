# Engine speed against zita-convolver and juce::dsp::Convolution, with the FFT table.
find_library(KTO_ZITA_CONVOLVER zita-convolver REQUIRED)
find_package(Threads REQUIRED)

# JUCE modules for the benchmark alone (juce_dsp on top of what kto_juce_min holds).
add_library(kto_bench_juce STATIC)
target_link_libraries(kto_bench_juce
  PRIVATE juce::juce_core juce::juce_audio_basics juce::juce_audio_formats juce::juce_dsp kto_juce_settings
  PUBLIC juce::juce_recommended_config_flags PkgConfig::FLAC)
target_compile_definitions(kto_bench_juce PUBLIC JUCE_STANDALONE_APPLICATION=1)
target_compile_definitions(kto_bench_juce INTERFACE $<TARGET_PROPERTY:kto_bench_juce,COMPILE_DEFINITIONS>)
target_include_directories(kto_bench_juce INTERFACE $<TARGET_PROPERTY:kto_bench_juce,INCLUDE_DIRECTORIES>)

add_executable(kto_bench ${CMAKE_CURRENT_LIST_DIR}/EngineBench.cpp)
target_link_libraries(kto_bench PRIVATE kto_bench_fft_lib tessel kto_resources kto_bench_juce kto_warnings
  ${KTO_ZITA_CONVOLVER} Threads::Threads)
