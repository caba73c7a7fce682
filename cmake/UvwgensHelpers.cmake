# Flags that keep the library's symbols inside the shared object. A DLL exports only what is
# marked for export, so Windows builds need none.
if(WIN32)
    set(UVWGENS_HIDDEN_FLAGS "")
else()
    set(UVWGENS_HIDDEN_FLAGS -fvisibility=hidden -fvisibility-inlines-hidden)
endif()

# Each library subsystem is an OBJECT library made of every .cpp in its folder, so that
# self-registering descriptors are never dropped by the linker and unit tests can link exactly
# the subsystems they exercise.
function(uvwgens_subsystem name dir)
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
    add_library(${name} OBJECT ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/uvwgens_private)
    target_link_libraries(${name} PUBLIC kivo_sdk)
    # Only getLibDesc leaves the shared module; everything else stays private to it.
    target_compile_options(${name} PRIVATE ${UVWGENS_HIDDEN_FLAGS})
endfunction()

# A unit-test executable from every .cpp in tests/<dir>, linked with the given library
# subsystems, the host runtime and the host scene; registered with CTest per test case. LIBS
# come first on the link line: a static library after GoogleTest's would be searched for the
# standard library instantiations it uses, and whatever members define them pulled in.
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
    target_link_libraries(test_${dir} PRIVATE ${ARG_LIBS} kivo_host kivo_scene GTest::gtest
                                              GTest::gmock GTest::gtest_main)
    uvwgens_add_gtest(test_${dir} ${dir})
endfunction()

# Registers a GoogleTest program with CTest: one test per case natively; under Wine one test
# per program, since every start of a program costs a Wine process start.
function(uvwgens_add_gtest target label)
    if(CMAKE_CROSSCOMPILING)
        add_test(NAME ${target} COMMAND ${target})
        set_tests_properties(${target} PROPERTIES LABELS ${label} FIXTURES_REQUIRED wine_prefix)
    else()
        gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS ${label})
    endif()
endfunction()
