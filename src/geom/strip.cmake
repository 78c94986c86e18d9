# Stripped form of a mesh: toStrippedFacets and fromStrippedFacets over the triangle stripper.
target_sources(quarn_geom PRIVATE ${CMAKE_CURRENT_LIST_DIR}/stlmesh_strip.cpp)
target_link_libraries(quarn_geom PRIVATE tristripper)
