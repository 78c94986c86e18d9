# quarn_add_test(NAME <name> SOURCES <files...> LIBS <targets...> LABEL <subsystem>
#                [DISPLAY] [TIMEOUT <seconds>])
#
# Adds one Qt Test executable and registers it with CTest under the subsystem's label.
# Every test gets its own empty configuration home, so no test sees the user's or another
# test's settings. DISPLAY runs the test on a private Xvfb server with Mesa's software
# renderer (llvmpipe) and the xcb platform; all other tests use the offscreen platform.
set(QUARN_TEST_DEFAULT_TIMEOUT 120)
set(QUARN_DISPLAY_RUNNER ${CMAKE_CURRENT_LIST_DIR}/../scripts/with-display.sh)

# Precompiled QtCore and QtTest headers that the tests reuse. QtTest's headers read which Qt
# modules a target uses, so the data-side tests and the widget tests have one each.
set(QUARN_DATA_SIDE_LIBS quarn_platform tristripper quarn_crypto quarn_io quarn_geom quarn_geom_core quarn_geom_mesh
    quarn_geom_formats quarn_geom_slicing quarn_testcommon ZLIB::ZLIB Qt5::Core Qt5::Gui Qt5::Concurrent)
add_library(quarn_test_pch STATIC ${CMAKE_CURRENT_LIST_DIR}/testpch.cpp)
target_link_libraries(quarn_test_pch PRIVATE Qt5::Core Qt5::Gui Qt5::Test)
target_precompile_headers(quarn_test_pch PRIVATE <QtCore> <QtTest>)
if(NOT QUARN_DATA_ONLY)
    add_library(quarn_test_pch_widgets STATIC ${CMAKE_CURRENT_LIST_DIR}/testpch.cpp)
    target_link_libraries(quarn_test_pch_widgets PRIVATE Qt5::Core Qt5::Gui Qt5::Widgets Qt5::Test)
    target_precompile_headers(quarn_test_pch_widgets PRIVATE <QtCore> <QtTest>)
endif()

function(quarn_add_test)
    cmake_parse_arguments(T "DISPLAY" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT ${QUARN_TEST_DEFAULT_TIMEOUT})
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    # Qt5::Gui for all, so that every data-side test matches the shared precompiled header.
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} Qt5::Gui Qt5::Test)
    set_target_properties(${T_NAME} PROPERTIES AUTOMOC ON)
    target_compile_definitions(${T_NAME} PRIVATE QUARN_TEST_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
    set(pch quarn_test_pch)
    foreach(lib ${T_LIBS})
        if(NOT lib IN_LIST QUARN_DATA_SIDE_LIBS)
            set(pch quarn_test_pch_widgets)
        endif()
    endforeach()
    target_precompile_headers(${T_NAME} REUSE_FROM ${pch})
    # AUTOMOC's own source is empty when the test includes its moc output, as ours do; loading the
    # shared header (a few hundred MB with gcc) for it would cost more than the test's source.
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_autogen/mocs_compilation.cpp
        PROPERTIES SKIP_PRECOMPILE_HEADERS ON)

    set(home ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.home)
    if(T_DISPLAY)
        add_test(NAME ${T_NAME} COMMAND ${QUARN_DISPLAY_RUNNER} $<TARGET_FILE:${T_NAME}>)
        set(env QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe)
    else()
        add_test(NAME ${T_NAME} COMMAND ${T_NAME})
        set(env QT_QPA_PLATFORM=offscreen)
    endif()
    # Every main window checks for news when built: a port of this machine where nothing listens.
    set(news QUARN_NEWS_BASE_URL=http://127.0.0.1:9)
    set_tests_properties(${T_NAME} PROPERTIES
        LABELS ${T_LABEL}
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "${env};${news};XDG_CONFIG_HOME=${home}/config;XDG_CACHE_HOME=${home}/cache;QUARN_TEST_HOME=${home}")
    file(MAKE_DIRECTORY ${home}/config ${home}/cache)
endfunction()
