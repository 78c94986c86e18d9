# Transform classification and point mapping, plane and space geometry.
foreach(name utiltx util2d util3d)
    quarn_add_test(NAME tst_${name} SOURCES tst_${name}.cpp guardedfloats.h LIBS quarn_geom LABEL geom)
endforeach()
