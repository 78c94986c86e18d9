# Helpers shared by the benchmark programs: generated test surfaces written as STL files,
# measurement in forked children, and reading and comparing meshes.
# Each bench list file that needs them includes this file; the target is defined once.
if(TARGET quarn_benchcommon)
    return()
endif()
add_library(quarn_benchcommon STATIC
    ${CMAKE_CURRENT_LIST_DIR}/surfacegen.h
    ${CMAKE_CURRENT_LIST_DIR}/surfacegen.cpp
    ${CMAKE_CURRENT_LIST_DIR}/measure.h
    ${CMAKE_CURRENT_LIST_DIR}/measure.cpp
    ${CMAKE_CURRENT_LIST_DIR}/meshfile.h
    ${CMAKE_CURRENT_LIST_DIR}/meshfile.cpp
)
target_include_directories(quarn_benchcommon PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quarn_benchcommon PUBLIC quarn_geom)
