# clipmux encoding speed against the ffmpeg command-line tool (same codecs and settings).
add_executable(bench_clipmux ${CMAKE_CURRENT_LIST_DIR}/clipmux_bench.cpp)
target_link_libraries(bench_clipmux PRIVATE clipmux)
