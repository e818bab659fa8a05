# Runtime benchmarks.
add_executable(registry_bench ${CMAKE_CURRENT_LIST_DIR}/registry_bench.cpp)
target_link_libraries(registry_bench PRIVATE platform_runtime)
