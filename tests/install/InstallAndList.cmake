# Installs the build into a fresh prefix and runs the installed uvwhost's "list" against the
# installed plugin module. -D BUILD_DIR, PREFIX, UVWHOST and MODULE (relative to PREFIX),
# EMULATOR (a ;-list, may be empty), EXPECT (a text the listing must contain).
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
execute_process(COMMAND ${EMULATOR} ${PREFIX}/${UVWHOST} --lib ${PREFIX}/${MODULE} list
                RESULT_VARIABLE status OUTPUT_VARIABLE listing ERROR_VARIABLE errors)
message("${listing}")
if(NOT status EQUAL 0 OR NOT listing MATCHES "${EXPECT}")
    message(FATAL_ERROR "the installed uvwhost failed (${status}): ${errors}")
endif()
