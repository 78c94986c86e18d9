# Geometry value types, boxes, round shapes and tolerant comparisons.
target_sources(quarn_geom PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/angles.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cuboid.cpp
    ${CMAKE_CURRENT_LIST_DIR}/rectangle.cpp
    ${CMAKE_CURRENT_LIST_DIR}/roundshapes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/vector2d.cpp
    ${CMAKE_CURRENT_LIST_DIR}/vector2f.cpp
    ${CMAKE_CURRENT_LIST_DIR}/vector3f.cpp
    ${CMAKE_CURRENT_LIST_DIR}/vectorstreams.cpp
)
