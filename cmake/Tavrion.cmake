# tavrion_add_test(NAME name SOURCES ... [LIBS ...] [TIMEOUT seconds] [LABEL unit|e2e|gui])
# Builds a GoogleTest program on the shared test main (a private registry and
# private folders per process) and registers each of its tests with CTest under its label
# (`ctest -L unit` runs the fast ones alone).
function(tavrion_add_test)
  if(NOT TAVRION_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME;TIMEOUT;LABEL;MAIN" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  if(NOT T_MAIN)
    set(T_MAIN tavrion_test_main)
  endif()
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_LABEL MATCHES "^(unit|e2e|gui)$")
    message(FATAL_ERROR "tavrion_add_test(${T_NAME}): LABEL must be unit, e2e or gui")
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_MAIN} ${T_LIBS})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS ${T_LABEL}
    ENVIRONMENT "TAVRION_BUILD_DIR=${CMAKE_BINARY_DIR};TAVRION_SOURCE_DIR=${CMAKE_SOURCE_DIR};${T_ENVIRONMENT}")
endfunction()

# tavrion_add_gui_test(NAME name SOURCES ... [LIBS ...] [TIMEOUT seconds])
# A widget test: GoogleTest cases on a QApplication of the offscreen platform (QTest's
# input functions drive the widgets), with the same private registry and folders, labelled
# `gui`.
function(tavrion_add_gui_test)
  if(NOT TAVRION_TESTS)
    return()
  endif()
  cmake_parse_arguments(G "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  set(extra)
  if(G_TIMEOUT)
    set(extra TIMEOUT ${G_TIMEOUT})
  endif()
  tavrion_add_test(NAME ${G_NAME} SOURCES ${G_SOURCES} MAIN tavrion_gui_test_main LABEL gui
    LIBS ${G_LIBS} Qt6::Test Qt6::Widgets ENVIRONMENT "QT_QPA_PLATFORM=offscreen" ${extra})
  set_target_properties(${G_NAME} PROPERTIES AUTOMOC ON)
endfunction()
