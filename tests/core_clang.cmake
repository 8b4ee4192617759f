# GCC's UBSan does not report an offset applied to a null pointer; clang's does. So a GCC
# sanitizer build also builds the core tests with clang (when it is installed) and runs them.
# They are built in the clang sanitizer tree of the fuzz preset (build-fuzz), which compiles the
# same JUCE modules for the fuzz targets, so clang compiles each of them once.
if(KTO_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  find_program(KTO_CLANG clang)
  find_program(KTO_CLANGXX clang++)
  if(KTO_CLANG AND KTO_CLANGXX)
    # The fuzz preset's binaryDir (CMakePresets.json).
    set(KTO_CLANG_DIR ${PROJECT_SOURCE_DIR}/build-fuzz)
    # Configured once if need be; one build at a time in that tree (the lock scripts/setup takes).
    add_custom_target(kto_core_clang ALL
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KTO_CLANG_DIR}
      COMMAND flock ${KTO_CLANG_DIR}/.kto-lock sh -c
        "(test -f '${KTO_CLANG_DIR}/CMakeCache.txt' || '${CMAKE_COMMAND}' -S '${PROJECT_SOURCE_DIR}' --preset fuzz >/dev/null) && '${CMAKE_COMMAND}' --build '${KTO_CLANG_DIR}' --target tessel_tests"
      COMMENT "Building the core tests with clang in ${KTO_CLANG_DIR}"
      VERBATIM)
    add_test(NAME tessel_tests_clang_sanitizers COMMAND ${KTO_CLANG_DIR}/tests/tessel_tests)
    set_tests_properties(tessel_tests_clang_sanitizers PROPERTIES TIMEOUT 1800)
  endif()
endif()
