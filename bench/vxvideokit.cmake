# VxVideoKit: frame scaling throughput of the deferred resizer's nearest-neighbour stretch.
add_executable(bench_vxvideokit_resize ${CMAKE_CURRENT_LIST_DIR}/vxvideokit_resize.cpp)
target_link_libraries(bench_vxvideokit_resize PRIVATE vxvideokit_core)

# VxVideoKit: the bilinear video resizer's scaling against swscale's bilinear in the same run.
pkg_check_modules(BENCH_SWSCALE REQUIRED IMPORTED_TARGET libswscale libavutil)
add_executable(bench_vxvideokit_bilinear ${CMAKE_CURRENT_LIST_DIR}/vxvideokit_bilinear.cpp)
target_link_libraries(bench_vxvideokit_bilinear PRIVATE vxvideokit_core PkgConfig::BENCH_SWSCALE)
