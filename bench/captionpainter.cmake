# Preview drawing: the subtitle drawer composing a frame with a caption, against the
# platform's plain image drawer, at 320 x 240 and 640 x 480.
add_executable(bench_previewdraw ${CMAKE_CURRENT_LIST_DIR}/previewdraw_bench.cpp)
target_link_libraries(bench_previewdraw PRIVATE captionpainter_objects captionparser_objects)
