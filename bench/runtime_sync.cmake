# Event hand-over and message-queue throughput of the runtime.
add_executable(bench_runtime_sync ${CMAKE_CURRENT_LIST_DIR}/runtime_sync_bench.cpp)
target_link_libraries(bench_runtime_sync PRIVATE platform_runtime)
