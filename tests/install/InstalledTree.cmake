# Installs the build into a fresh prefix and runs the installed uvwhost's "list" against the
# installed plugin module and, where there is one, uses its image-file module (below).
# -D BUILD_DIR, PREFIX, UVWHOST and MODULE (relative to PREFIX), EMULATOR (a ;-list, may be
# empty), EXPECT (a text the listing must contain), IMAGE_MODULE (relative to PREFIX, may be
# empty).
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
set(uvwhost ${EMULATOR} ${PREFIX}/${UVWHOST} --lib ${PREFIX}/${MODULE})
execute_process(COMMAND ${uvwhost} list
                RESULT_VARIABLE status OUTPUT_VARIABLE listing ERROR_VARIABLE errors)
message("${listing}")
if(NOT status EQUAL 0 OR NOT listing MATCHES "${EXPECT}")
    message(FATAL_ERROR "the installed uvwhost failed (${status}): ${errors}")
endif()

# With IMAGE_MODULE set (Linux): listing loads no image library, and a render that writes
# OpenEXR finds the installed image-file module.
if(IMAGE_MODULE)
    if(NOT EXISTS ${PREFIX}/${IMAGE_MODULE})
        message(FATAL_ERROR "${IMAGE_MODULE} was not installed")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_DEBUG=libs ${uvwhost} list
                    OUTPUT_QUIET ERROR_VARIABLE loading)
    if(loading MATCHES "OpenImageIO")
        message(FATAL_ERROR "the installed uvwhost loaded OpenImageIO to list the plugins")
    endif()
    set(render ${uvwhost} render --quiet --width 8 --height 4 -o ${PREFIX}/render.png
               --aov-uvw ${PREFIX}/render.exr)
    execute_process(COMMAND ${render} RESULT_VARIABLE status ERROR_VARIABLE errors)
    if(NOT status EQUAL 0 OR NOT EXISTS ${PREFIX}/render.exr)
        message(FATAL_ERROR "the installed uvwhost wrote no OpenEXR (${status}): ${errors}")
    endif()
    # Without the module: the picture is still written, and the error names the module.
    file(REMOVE ${PREFIX}/${IMAGE_MODULE} ${PREFIX}/render.png)
    execute_process(COMMAND ${render} RESULT_VARIABLE status ERROR_VARIABLE errors)
    if(status EQUAL 0 OR NOT errors MATCHES "libuvwhost_images" OR NOT EXISTS ${PREFIX}/render.png)
        message(FATAL_ERROR "without its image-file module uvwhost said (${status}): ${errors}")
    endif()
endif()
