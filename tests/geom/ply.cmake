# PLY schema, stream, mesh load and save.
quarn_add_test(NAME tst_plyschema SOURCES tst_plyschema.cpp plysupport.h LIBS quarn_geom LABEL geom)
quarn_add_test(NAME tst_plystream SOURCES tst_plystream.cpp plysupport.h LIBS quarn_geom Qt5::Concurrent LABEL geom)
quarn_add_test(NAME tst_plymesh SOURCES tst_plymesh.cpp plysupport.h LIBS quarn_geom quarn_testcommon quarn_stltestdata
               Qt5::Concurrent LABEL geom)
