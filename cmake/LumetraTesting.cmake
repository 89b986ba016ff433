# GoogleTest built from Debian's sources with the same tool chain.
set(LUMETRA_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(LUMETRA_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix the tests run in")

function(lumetra_use_gtest)
    if(TARGET gtest)
        return()
    endif()
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${LUMETRA_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endfunction()

# lumetra_add_test(<name> SOURCES ... [LIBS ...] [TIMEOUT seconds])
# One test program, run as one CTest test under Wine in the build's prefix.
function(lumetra_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    foreach(source IN LISTS ARG_SOURCES)
        if(NOT IS_ABSOLUTE ${source} AND NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${source})
            message(WARNING "${name}: ${source} is missing; the test program is left out")
            return()
        endif()
    endforeach()
    lumetra_use_gtest()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest_main gtest)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        WORKING_DIRECTORY $<TARGET_FILE_DIR:${name}>
        ENVIRONMENT "WINEPREFIX=${LUMETRA_WINEPREFIX};WINEDEBUG=-all;LUMETRA_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()
