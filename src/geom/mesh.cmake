# Indexed triangle mesh: builder, canonical order, statistics, transforms and derived lists.
target_sources(quarn_geom PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/facet.h
    ${CMAKE_CURRENT_LIST_DIR}/facet.cpp
    ${CMAKE_CURRENT_LIST_DIR}/indexedfacet.h
    ${CMAKE_CURRENT_LIST_DIR}/strippedfacets.h
    ${CMAKE_CURRENT_LIST_DIR}/vertexorder.h
    ${CMAKE_CURRENT_LIST_DIR}/vertexorder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/largeblock.h
    ${CMAKE_CURRENT_LIST_DIR}/vertexsort.h
    ${CMAKE_CURRENT_LIST_DIR}/vertexsort.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stlmeshbuilder.h
    ${CMAKE_CURRENT_LIST_DIR}/stlmeshbuilder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stlmesh.h
    ${CMAKE_CURRENT_LIST_DIR}/stlmesh_p.h
    ${CMAKE_CURRENT_LIST_DIR}/stlmesh.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stlmesh_transform.cpp
    ${CMAKE_CURRENT_LIST_DIR}/vertexstatistic.h
    ${CMAKE_CURRENT_LIST_DIR}/vertexstatistic.cpp
)
