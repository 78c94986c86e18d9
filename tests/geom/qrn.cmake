# Compressed mesh format. The reader test reads fixtures of every version that an independent
# script writes at test time (Python's standard library and the openssl command, never our writer).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(QUARN_OPENSSL_EXECUTABLE openssl REQUIRED)
find_package(ZLIB REQUIRED)

quarn_add_test(NAME tst_qrn SOURCES tst_qrn.cpp qrntestsupport.h
    LIBS quarn_geom ZLIB::ZLIB LABEL geom)
quarn_add_test(NAME tst_qrnwriter SOURCES tst_qrnwriter.cpp qrntestsupport.h
    LIBS quarn_geom quarn_io quarn_testcommon ZLIB::ZLIB LABEL geom TIMEOUT 300)
quarn_add_test(NAME tst_qrnreader SOURCES tst_qrnreader.cpp qrntestsupport.h
    LIBS quarn_geom quarn_io quarn_testcommon ZLIB::ZLIB LABEL geom TIMEOUT 300)
foreach(t tst_qrnwriter tst_qrnreader)
    target_compile_definitions(${t} PRIVATE
        QUARN_PYTHON3="${Python3_EXECUTABLE}" QUARN_OPENSSL="${QUARN_OPENSSL_EXECUTABLE}")
endforeach()
