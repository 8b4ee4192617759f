# Test programs. Each sees tests/ and tests/support as include folders.
set(KTO_TESTS_DIR ${PROJECT_SOURCE_DIR}/tests)

# kto_add_test_program(NAME SOURCES src... LIBS lib...): the executable alone, for programs whose
# ctest entries are made by hand.
function(kto_add_test_program name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBS")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS})
  target_include_directories(${name} PRIVATE ${KTO_TESTS_DIR} ${KTO_TESTS_DIR}/support)
endfunction()

# kto_add_test(NAME SOURCES src... LIBS lib... [OWN_MAIN] [ONE_TEST] [TIMEOUT s] [ENVIRONMENT var=value])
# A GoogleTest program. Each case becomes a ctest of its own (found when the program is built),
# or with ONE_TEST the whole program runs as the one ctest NAME. OWN_MAIN: the program has its
# own main() instead of GoogleTest's. TIMEOUT (default 600 s) and ENVIRONMENT apply to every entry.
function(kto_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "OWN_MAIN;ONE_TEST" "TIMEOUT;ENVIRONMENT" "SOURCES;LIBS")
  set(gtest GTest::gtest)
  if(NOT arg_OWN_MAIN)
    list(APPEND gtest GTest::gtest_main)
  endif()
  kto_add_test_program(${name} SOURCES ${arg_SOURCES} LIBS ${arg_LIBS} ${gtest})
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 600)
  endif()
  set(properties TIMEOUT ${arg_TIMEOUT})
  if(arg_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT ${arg_ENVIRONMENT})
  endif()
  if(arg_ONE_TEST)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ${properties})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
  endif()
endfunction()
