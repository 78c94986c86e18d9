# PLY schema, stream, mesh load and save.
target_sources(quarn_geom PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/plyproperty.h
    ${CMAKE_CURRENT_LIST_DIR}/plyelement.h
    ${CMAKE_CURRENT_LIST_DIR}/plystream.h
    ${CMAKE_CURRENT_LIST_DIR}/plyschema.cpp
    ${CMAKE_CURRENT_LIST_DIR}/plystream.cpp
    ${CMAKE_CURRENT_LIST_DIR}/plymesh.cpp
)
