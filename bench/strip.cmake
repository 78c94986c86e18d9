# bench_strip: stripping a generated closed surface, against reading the same surface from STL.
include(${CMAKE_CURRENT_LIST_DIR}/common/common.cmake)
add_executable(bench_strip ${CMAKE_CURRENT_LIST_DIR}/bench_strip.cpp)
target_link_libraries(bench_strip PRIVATE quarn_geom quarn_benchcommon)
