# Subtitle source: reading a two-hour two-language SAMI file and a two-hour SubRip file, and
# hostile files for the lenient readers (linear time, peak memory against the file size).
add_executable(bench_captionparser ${CMAKE_CURRENT_LIST_DIR}/captionparser_bench.cpp)
target_link_libraries(bench_captionparser PRIVATE captionparser_core)

# Prints everything a load leaves behind, so that two builds of the readers can be diffed.
add_executable(captionparser_dump ${CMAKE_CURRENT_LIST_DIR}/captionparser_dump.cpp)
target_link_libraries(captionparser_dump PRIVATE captionparser_core)
