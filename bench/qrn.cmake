# Compressing a generated surface from STL into a .qrn file and back, beside gzip -6 and gzip -d.
include(${CMAKE_CURRENT_LIST_DIR}/common/common.cmake)
add_executable(bench_qrn ${CMAKE_CURRENT_LIST_DIR}/bench_qrn.cpp)
target_link_libraries(bench_qrn PRIVATE quarn_geom quarn_io quarn_benchcommon)
