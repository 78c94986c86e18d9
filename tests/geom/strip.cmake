# Stripped form of a mesh.
quarn_add_test(NAME tst_stlmesh_strip SOURCES tst_stlmesh_strip.cpp LIBS quarn_geom quarn_testcommon LABEL geom)
