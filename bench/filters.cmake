# Decoding through the platform filters (graphinfo --play) against the ffmpeg tool on the
# same 60 s 640 x 480 30 fps MPEG-4 AVI. Prints the time ratio.
add_executable(bench_filters ${CMAKE_CURRENT_LIST_DIR}/filters_bench.cpp)
add_dependencies(bench_filters graphinfo platform_filters)
target_compile_definitions(bench_filters PRIVATE TAV_BUILD_DIR="${CMAKE_BINARY_DIR}")
