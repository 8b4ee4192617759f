# GCC's UBSan does not report an offset applied to a null pointer; clang's does. So a GCC
# sanitizer build also builds the core tests with clang (when it is installed) and runs them.
if(KTO_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  find_program(KTO_CLANG clang)
  find_program(KTO_CLANGXX clang++)
  if(KTO_CLANG AND KTO_CLANGXX)
    include(ExternalProject)
    set(KTO_CORE_CLANG_DIR ${CMAKE_BINARY_DIR}/core-clang)
    ExternalProject_Add(kto_core_clang
      SOURCE_DIR ${CMAKE_SOURCE_DIR}
      BINARY_DIR ${KTO_CORE_CLANG_DIR}
      CMAKE_ARGS -DCMAKE_C_COMPILER=${KTO_CLANG} -DCMAKE_CXX_COMPILER=${KTO_CLANGXX}
                 -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DKTO_SANITIZE=ON -DKTO_BUILD_BENCH=OFF
      BUILD_COMMAND ${CMAKE_COMMAND} --build ${KTO_CORE_CLANG_DIR} --target tessel_tests
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON)
    add_test(NAME tessel_tests_clang_sanitizers COMMAND ${KTO_CORE_CLANG_DIR}/tests/tessel_tests)
    set_tests_properties(tessel_tests_clang_sanitizers PROPERTIES TIMEOUT 1800)
  endif()
endif()
