# Indexed triangle mesh: building, canonical order, statistics, transforms and derived lists.
quarn_add_test(NAME tst_stlmesh SOURCES tst_stlmesh.cpp LIBS quarn_geom quarn_testcommon LABEL geom)
