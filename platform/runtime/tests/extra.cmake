# Helpers of the runtime tests: a component library with two classes, a library without
# component entry points, and a program that creates a class by identifier.
if(TAVRION_TESTS)
  add_library(tavtest_component SHARED ${CMAKE_CURRENT_SOURCE_DIR}/tests/testcomponent.cpp)
  target_link_libraries(tavtest_component PRIVATE platform_runtime)
  set_target_properties(tavtest_component PROPERTIES CXX_VISIBILITY_PRESET hidden)

  add_library(tavtest_noentry SHARED ${CMAKE_CURRENT_SOURCE_DIR}/tests/noentry.cpp)

  add_executable(tavtest_createhelper ${CMAKE_CURRENT_SOURCE_DIR}/tests/createhelper.cpp)
  target_link_libraries(tavtest_createhelper PRIVATE platform_runtime)
  set_target_properties(tavtest_createhelper PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

  add_dependencies(runtime_com_test tavtest_component tavtest_noentry tavtest_createhelper regsvr regdump)

  # The running object table test lists entries through the rotlist tool.
  add_dependencies(runtime_rot_test rotlist)

  # The screen-saver test serves a stand-in screen-saver service on a private bus.
  target_link_libraries(runtime_screensaver_test PRIVATE tavrion_test_fakebus)
endif()
