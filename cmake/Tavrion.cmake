# tavrion_add_test(NAME name SOURCES ... [LIBS ...] [TIMEOUT seconds])
# Builds a GoogleTest program on the shared test main (a private registry and
# private folders per process) and registers each of its tests with CTest.
function(tavrion_add_test)
  if(NOT TAVRION_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE tavrion_test_main ${T_LIBS})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "TAVRION_BUILD_DIR=${CMAKE_BINARY_DIR};TAVRION_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()
