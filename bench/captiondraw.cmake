# Caption drawing: a two-line caption burnt into 320 x 240 and 640 x 480 RGB32 frames, and a
# SubRip line of megabytes read, laid out and drawn in time linear in its length.
add_executable(bench_captiondraw ${CMAKE_CURRENT_LIST_DIR}/captiondraw_bench.cpp)
target_link_libraries(bench_captiondraw PRIVATE captionparser_draw)

# The same through the Subtitle Manager's DrawOnBitmap.
add_executable(bench_burnin ${CMAKE_CURRENT_LIST_DIR}/burnin_bench.cpp)
target_link_libraries(bench_burnin PRIVATE captionparser_objects)
