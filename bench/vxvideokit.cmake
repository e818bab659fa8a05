# VxVideoKit: frame scaling throughput of the deferred resizer's nearest-neighbour stretch.
add_executable(bench_vxvideokit_resize ${CMAKE_CURRENT_LIST_DIR}/vxvideokit_resize.cpp)
target_link_libraries(bench_vxvideokit_resize PRIVATE vxvideokit_core)
