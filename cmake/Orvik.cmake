# Shared build settings and the helpers each folder's CMakeLists.txt calls.

set(ORVIK_WARNINGS -Wall -Wextra)
# The product's libraries and the benchmarks: in the builds the test command makes (the sanitizer
# build and the fuzz build), a warning is an error, so that a new one fails there.
set(ORVIK_PRODUCT_WARNINGS ${ORVIK_WARNINGS})
if(ORVIK_SANITIZE OR ORVIK_FUZZ)
    list(APPEND ORVIK_PRODUCT_WARNINGS -Werror)
endif()
if(ORVIK_TSAN AND (ORVIK_SANITIZE OR ORVIK_FUZZ))
    message(FATAL_ERROR "ORVIK_TSAN builds on its own: turn ORVIK_SANITIZE and ORVIK_FUZZ off")
endif()
if(ORVIK_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(ORVIK_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
elseif(ORVIK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

set(ORVIK_LIBRARIES "" CACHE INTERNAL "")

# orvik_library(Name [LINKS lib...]): a static library of every .cpp in the calling folder except
# Main.cpp (the program's entry point, built into the executable alone).
function(orvik_library name)
    cmake_parse_arguments(ARG "" "" "LINKS;SYSTEM" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    list(FILTER sources EXCLUDE REGEX "/Main\\.cpp$")
    if(NOT sources)
        # A folder whose code has not arrived yet: headers only.
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
        if(ARG_LINKS)
            target_link_libraries(${name} INTERFACE ${ARG_LINKS})
        endif()
        set(ORVIK_LIBRARIES ${ORVIK_LIBRARIES} ${name} CACHE INTERNAL "")
        return()
    endif()
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
    target_compile_options(${name} PRIVATE ${ORVIK_PRODUCT_WARNINGS})
    if(ARG_LINKS)
        target_link_libraries(${name} PUBLIC ${ARG_LINKS})
    endif()
    if(ARG_SYSTEM)
        target_link_libraries(${name} PUBLIC ${ARG_SYSTEM})
    endif()
    set(ORVIK_LIBRARIES ${ORVIK_LIBRARIES} ${name} CACHE INTERNAL "")
endfunction()

# orvik_test(Name LINKS lib...): one GoogleTest executable of every .cpp in the calling test folder.
function(orvik_test name)
    cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(NOT sources)
        return()
    endif()
    add_executable(${name} ${sources})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/Tests)
    target_compile_options(${name} PRIVATE ${ORVIK_WARNINGS})
    target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gmock GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE
        ORVIK_SOURCE_DIR="${CMAKE_SOURCE_DIR}" ORVIK_BINARY_DIR="${CMAKE_BINARY_DIR}")
    # GoogleTest's headers take about a third of each test file's compile time: parsed once per
    # test program instead of once per file.
    target_precompile_headers(${name} PRIVATE <gtest/gtest.h> <gmock/gmock.h> <string> <vector> <memory> <cstring>)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "ORVIK_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()
