# Compressed mesh format: common code, writer and reader. The reader inflates enciphered vertex
# blocks itself through zlib, so that a damaged length cannot size a buffer.
find_package(ZLIB REQUIRED)
target_sources(quarn_geom PRIVATE
    qrn.h qrn.cpp
    qrnwriter.h qrnwriter.cpp
    qrnreader.h qrnreader.cpp)
target_link_libraries(quarn_geom PUBLIC quarn_crypto PRIVATE ZLIB::ZLIB)
