# What an integrator copies: the plugin module in a plugins folder of its own (the renderer is
# pointed at that folder), the host SDK stand-in and uvwhost, the examples and the README.
# CPack makes the release artefacts from the same rules: a .deb on Linux, a .zip on Windows.
include(GNUInstallDirs)

if(WIN32)
    set(UVWGENS_INSTALL_PLUGINDIR plugins)
else()
    set(UVWGENS_INSTALL_PLUGINDIR ${CMAKE_INSTALL_LIBDIR}/uvwgens/plugins)
endif()
set(UVWGENS_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/uvwgens)

install(TARGETS uvwgens RUNTIME DESTINATION ${UVWGENS_INSTALL_PLUGINDIR}
                        LIBRARY DESTINATION ${UVWGENS_INSTALL_PLUGINDIR})
# kivo_host stands in for the renderer's SDK runtime, which uvwhost and the module load.
install(TARGETS kivo_host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
                          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(NOT WIN32)
    # Each finds the SDK runtime relative to itself wherever the tree is installed.
    file(RELATIVE_PATH module_to_lib /${UVWGENS_INSTALL_PLUGINDIR} /${CMAKE_INSTALL_LIBDIR})
    file(RELATIVE_PATH bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
    set_target_properties(uvwgens PROPERTIES INSTALL_RPATH "$ORIGIN/${module_to_lib}")
    if(TARGET uvwhost)
        set_target_properties(uvwhost PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
    endif()
endif()
if(TARGET uvwhost)
    install(TARGETS uvwhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET uvwhost_images) # uvwhost's image-file module, found beside the SDK runtime
    install(TARGETS uvwhost_images LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${UVWGENS_INSTALL_DATADIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${UVWGENS_INSTALL_DATADIR})

set(CPACK_PACKAGE_NAME uvwgens)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kivo UVW Generators: UVW generator plugins and uvwhost")
set(CPACK_PACKAGE_CONTACT "uvwgens developers")
set(CPACK_PACKAGE_FILE_NAME uvwgens-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
if(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
endif()
include(CPack)
