# Per-sample cost of the streaming framework: source -> transform -> in-place -> null
# renderer with 640 x 480 RGB32 samples and no clock, against the transform's own copy.
add_executable(bench_streaming_graph ${CMAKE_CURRENT_LIST_DIR}/streaming_graph_bench.cpp)
target_link_libraries(bench_streaming_graph PRIVATE strmbase platform_runtime ${CMAKE_DL_LIBS})
add_dependencies(bench_streaming_graph platform_streaming)
