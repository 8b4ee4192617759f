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

# Every compile goes through cmake/jobslot, which lets builds that run side by side share one
# pool of jobs (scripts/test), and through ccache when it is installed.
if(NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(launcher ${PROJECT_SOURCE_DIR}/cmake/jobslot)
  if(KTO_CCACHE)
    find_program(KTO_CCACHE_PROGRAM ccache)
    if(KTO_CCACHE_PROGRAM)
      list(APPEND launcher ${KTO_CCACHE_PROGRAM})
    endif()
  endif()
  set(CMAKE_C_COMPILER_LAUNCHER ${launcher})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${launcher})
endif()
