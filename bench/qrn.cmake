# Compressing a generated surface from STL into a .qrn file and back, beside gzip -6 and gzip -d.
add_executable(bench_qrn
    ${CMAKE_CURRENT_LIST_DIR}/bench_qrn.cpp
    ${CMAKE_CURRENT_LIST_DIR}/common/surfacegen.h
    ${CMAKE_CURRENT_LIST_DIR}/common/surfacegen.cpp
)
target_include_directories(bench_qrn PRIVATE ${CMAKE_CURRENT_LIST_DIR}/common)
target_link_libraries(bench_qrn PRIVATE quarn_geom quarn_io)
