# Windows builds cross-compiled on Linux: test programs run under Wine, and the few
# dependencies Debian does not build for MinGW come from what works on both.
if(NOT WIN32)
    return()
endif()

# Programs and DLLs side by side: Windows finds a program's DLLs in the program's folder.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
if(NOT CMAKE_CROSSCOMPILING)
    return()
endif()

# Wine runs every test program in a prefix of its own inside the build tree, created once by
# the wine_prefix test fixture. No display, no console input, no Mono or Gecko installers.
find_program(UVWGENS_WINE NAMES wine64 wine PATHS /usr/lib/wine REQUIRED)
set(UVWGENS_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env WINEPREFIX=${UVWGENS_WINEPREFIX}
    WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY= ${UVWGENS_WINE})

# Header-only Linux packages, reached through a folder that holds them alone: /usr/include
# itself must not shadow the MinGW C headers.
set(linux_headers ${CMAKE_BINARY_DIR}/linux-headers)
file(MAKE_DIRECTORY ${linux_headers})
foreach(dir nlohmann stb)
    if(EXISTS /usr/include/${dir} AND NOT EXISTS ${linux_headers}/${dir})
        file(CREATE_LINK /usr/include/${dir} ${linux_headers}/${dir} SYMBOLIC)
    endif()
endforeach()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${linux_headers} INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${linux_headers})
add_library(uvwgens_stb INTERFACE IMPORTED)
set_target_properties(uvwgens_stb PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${linux_headers} INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${linux_headers})
