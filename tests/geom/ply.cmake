# PLY schema, stream, mesh load and save.
quarn_add_test(NAME tst_plyschema SOURCES tst_plyschema.cpp plysupport.h LIBS quarn_geom LABEL geom)
quarn_add_test(NAME tst_plystream SOURCES tst_plystream.cpp plysupport.h LIBS quarn_geom Qt5::Concurrent LABEL geom)
quarn_add_test(NAME tst_plymesh SOURCES tst_plymesh.cpp plysupport.h LIBS quarn_geom quarn_testcommon Qt5::Concurrent
               LABEL geom)
set_target_properties(tst_plyschema tst_plystream tst_plymesh PROPERTIES AUTOMOC ON)
