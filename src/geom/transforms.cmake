# Transform classification and point mapping (utilTX), plane and space geometry (util2D).
target_sources(quarn_geom PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/utiltx.h
    ${CMAKE_CURRENT_LIST_DIR}/utiltx.cpp
    ${CMAKE_CURRENT_LIST_DIR}/util2d.h
    ${CMAKE_CURRENT_LIST_DIR}/util2d.cpp
    ${CMAKE_CURRENT_LIST_DIR}/util3d.h
    ${CMAKE_CURRENT_LIST_DIR}/util3d.cpp
)
