# bench_stl: reading and writing binary STL of a generated closed surface, against admesh.
include(${CMAKE_CURRENT_LIST_DIR}/common/common.cmake)
add_executable(bench_stl ${CMAKE_CURRENT_LIST_DIR}/bench_stl.cpp)
target_link_libraries(bench_stl PRIVATE quarn_geom quarn_benchcommon)
