# Each library subsystem is an OBJECT library made of every .cpp in its folder, so that
# self-registering descriptors are never dropped by the linker and unit tests can link exactly
# the subsystems they exercise.
function(uvwgens_subsystem name dir)
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
    add_library(${name} OBJECT ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/uvwgens_private)
    target_link_libraries(${name} PUBLIC kivo_sdk)
    # Only getLibDesc leaves the shared module; everything else stays private to it.
    target_compile_options(${name} PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
endfunction()

# A unit-test executable from every .cpp in tests/<dir>, linked with the given library
# subsystems, the host runtime and the host scene; registered with CTest per test case.
function(uvwgens_test dir)
    cmake_parse_arguments(ARG "" "" "SUBSYSTEMS;LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${dir}/*.cpp)
    if(NOT sources)
        return()
    endif()
    set(objects $<TARGET_OBJECTS:uvwgens_objectmodel>)
    foreach(sub IN LISTS ARG_SUBSYSTEMS)
        if(TARGET uvwgens_${sub})
            list(APPEND objects $<TARGET_OBJECTS:uvwgens_${sub}>)
        endif()
    endforeach()
    add_executable(test_${dir} ${sources} ${objects})
    target_include_directories(test_${dir} PRIVATE ${PROJECT_SOURCE_DIR}/uvwgens_private
                                                   ${PROJECT_SOURCE_DIR})
    target_link_libraries(test_${dir} PRIVATE kivo_host kivo_scene GTest::gtest GTest::gmock
                                              GTest::gtest_main ${ARG_LIBS})
    gtest_discover_tests(test_${dir} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS ${dir})
endfunction()
