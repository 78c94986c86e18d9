# Geometry value types, boxes, round shapes and tolerant comparisons.
foreach(name vector3f vector2f vector2d angles fuzzy cuboid rectangle circle sphere)
    quarn_add_test(NAME tst_${name} SOURCES tst_${name}.cpp valuesupport.h LIBS quarn_geom LABEL geom)
endforeach()
