# Saving and loading a batch of 10,000 entries, against raw file I/O of the same size.
add_executable(bench_batch ${CMAKE_CURRENT_LIST_DIR}/batch_bench.cpp)
target_link_libraries(bench_batch PRIVATE converter_engine)
