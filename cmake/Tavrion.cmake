# unit_tests builds every test program labelled `unit` and what those programs load at run
# time (their add_dependencies), and nothing else: the sanitizer stage builds only this.
if(TAVRION_TESTS)
  add_custom_target(unit_tests)
endif()

find_program(TAVRION_ENV_PROGRAM env REQUIRED)

# Under the sanitizers every test (and every program a test starts) runs with the same
# settings: any report fails the test, leaks included, with a whole stack. Leaks that belong
# to system libraries are listed, each with its reason, in tests/sanitizers/lsan.supp.
set(TAVRION_SANITIZER_ENVIRONMENT)
if(TAVRION_ASAN)
  set(TAVRION_SANITIZER_ENVIRONMENT
    "ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizers/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1")
endif()
# Under ThreadSanitizer a report fails the test (its exit status is then 66); reports from
# uninstrumented system libraries that are not faults of ours are listed, each with its
# reason, in tests/sanitizers/tsan.supp. scripts/tsan.sh runs the threading tests this way.
if(TAVRION_TSAN)
  set(TAVRION_SANITIZER_ENVIRONMENT
    "TSAN_OPTIONS=second_deadlock_stack=1:suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizers/tsan.supp")
endif()

# tavrion_add_test(NAME name SOURCES ... [LIBS ...] [LOADS ...] [TIMEOUT seconds] [LABEL unit|e2e|gui])
# Builds a GoogleTest program on the shared test main (a private registry and
# private folders per process) and registers each of its tests with CTest under its label
# (`ctest -L unit` runs the fast ones alone). LOADS names the targets the program loads at
# run time (component libraries, programs it starts), which are built before it.
function(tavrion_add_test)
  if(NOT TAVRION_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME;TIMEOUT;LABEL;MAIN" "SOURCES;LIBS;LOADS;ENVIRONMENT" ${ARGN})
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
  if(T_LOADS)
    add_dependencies(${T_NAME} ${T_LOADS})
  endif()
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(T_LABEL STREQUAL "unit")
    add_dependencies(unit_tests ${T_NAME})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # The environment goes on the command line through env(1): gtest_discover_tests writes
  # each element of a PROPERTIES list value as its own argument, so an ENVIRONMENT property
  # would keep only its first variable. The listing of the tests runs the same way, so it
  # sees the sanitizer settings too.
  # Every test runs in the untranslated C.UTF-8 locale whatever the caller's settings: tests
  # read English texts, and the desktop program follows LANGUAGE and the LC_* variables.
  set_target_properties(${T_NAME} PROPERTIES CROSSCOMPILING_EMULATOR
    "${TAVRION_ENV_PROGRAM};-u;LANGUAGE;-u;LC_ALL;-u;LC_MESSAGES;LANG=C.UTF-8;TAVRION_BUILD_DIR=${CMAKE_BINARY_DIR};TAVRION_SOURCE_DIR=${CMAKE_SOURCE_DIR};${TAVRION_SANITIZER_ENVIRONMENT};${T_ENVIRONMENT}")
  # Listing the tests of an instrumented program on a loaded machine can take more than the
  # default five seconds.
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS ${T_LABEL})
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

# tavrion_add_component_library(name SOURCES ... OBJECTS ...)
# A component library (lib<name>.so) that the platform loads through the registry: SOURCES
# hold its class table and entry points, OBJECTS the static library of its classes. Only the
# entry points are exported, and every symbol must resolve when the library is linked.
function(tavrion_add_component_library name)
  cmake_parse_arguments(C "" "" "SOURCES;OBJECTS" ${ARGN})
  add_library(${name} SHARED ${C_SOURCES})
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name} PRIVATE ${C_OBJECTS})
  target_link_options(${name} PRIVATE -Wl,--no-undefined)
endfunction()
