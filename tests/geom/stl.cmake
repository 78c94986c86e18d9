# STL reader, writer and header block. The reader and writer tests run admesh when it is installed.
add_library(quarn_stltestdata STATIC stltestdata.h stltestdata.cpp)
target_link_libraries(quarn_stltestdata PUBLIC quarn_geom Qt5::Core)
quarn_add_test(NAME tst_stlreader SOURCES tst_stlreader.cpp
               LIBS quarn_geom quarn_testcommon quarn_stltestdata LABEL geom)
quarn_add_test(NAME tst_stlwriter SOURCES tst_stlwriter.cpp
               LIBS quarn_geom quarn_testcommon quarn_stltestdata LABEL geom)
quarn_add_test(NAME tst_stlheaderblock SOURCES tst_stlheaderblock.cpp LIBS quarn_geom LABEL geom)
