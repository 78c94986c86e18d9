# STL files: reader (binary and ASCII), binary writer, header block.
target_sources(quarn_geom PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/stlreader.h
    ${CMAKE_CURRENT_LIST_DIR}/stlreader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stlwriter.h
    ${CMAKE_CURRENT_LIST_DIR}/stlwriter_p.h
    ${CMAKE_CURRENT_LIST_DIR}/stlwriter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stlheaderblock.h
    ${CMAKE_CURRENT_LIST_DIR}/stlheaderblock.cpp
)
