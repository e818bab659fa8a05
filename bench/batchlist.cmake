# The batch list with 10,000 entries: loading, selecting all, painting.
add_executable(bench_batchlist ${CMAKE_CURRENT_LIST_DIR}/batchlist_bench.cpp)
target_link_libraries(bench_batchlist PRIVATE tavrion_ui_batchlist)
