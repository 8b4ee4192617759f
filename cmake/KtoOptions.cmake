# Build options, sanitizers and the compiler launcher.

option(KTO_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(KTO_TSAN "Build everything with ThreadSanitizer" OFF)
option(KTO_FUZZ "Build the libFuzzer targets (clang, with KTO_SANITIZE; the fuzz preset sets it up)" OFF)
option(KTO_BUILD_TESTS "Build the tests" ON)
option(KTO_BUILD_BENCH "Build the benchmarks (they need zita-convolver, FFTW, libsamplerate and libsoxr)" OFF)
option(KTO_CCACHE "Compile through ccache when it is installed" ON)

if(KTO_FUZZ AND NOT KTO_SANITIZE)
  message(FATAL_ERROR "KTO_FUZZ needs KTO_SANITIZE: the fuzz targets run under ASan and UBSan")
endif()

if(KTO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(KTO_FUZZ)
  # Coverage for libFuzzer in every object; only the fuzz targets link libFuzzer itself.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
if(KTO_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(KTO_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  find_program(KTO_CCACHE_PROGRAM ccache)
  if(KTO_CCACHE_PROGRAM)
    set(CMAKE_C_COMPILER_LAUNCHER ${KTO_CCACHE_PROGRAM})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${KTO_CCACHE_PROGRAM})
  endif()
endif()
