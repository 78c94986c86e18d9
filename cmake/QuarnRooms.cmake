# quarn_room_headers(<target> <room>)
#
# Makes the headers of a room, the folder src/<room> (such as geom/core), reachable as
# "<room>/<name>.h" to the target and to every target that links it, and no other folder of the
# tree. Each room has an include root of its own in the build tree that holds nothing but a link
# to the room's folder, so a target finds the headers of the rooms it links and no others: an
# include of a room that the target does not link fails to compile. The order the links follow is
# checked by scripts/check-include-order.py.
function(quarn_room_headers target room)
    string(REPLACE "/" "_" key ${room})
    set(root ${PROJECT_BINARY_DIR}/rooms/${key})
    get_filename_component(parent ${root}/${room} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${room} ${root}/${room} RESULT linked SYMBOLIC)
    if(linked EQUAL 0)
        target_include_directories(${target} PUBLIC ${root})
    else()
        # note: Windows grants symbolic links only to administrators and in developer mode.
        # Without one the whole tree stays reachable and only the include-order test guards
        # the rooms.
        message(STATUS "${room}: no link for its include root (${linked}); src/ is used instead")
        target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    endif()
endfunction()
