# Regression fixtures of what the fuzz targets (fuzz/) found, one test function per finding.
quarn_add_test(NAME tst_fuzzregressions SOURCES tst_fuzzregressions.cpp
               LIBS quarn_geom quarn_io quarn_testcommon quarn_stltestdata LABEL geom)
