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

# What every test program finds in its environment; programs add to it with lumetra_test_property.
set(LUMETRA_TEST_ENVIRONMENT WINEPREFIX=${LUMETRA_WINEPREFIX} WINEDEBUG=-all LUMETRA_BUILD_DIR=${CMAKE_BINARY_DIR})

# lumetra_add_test(<name> SOURCES ... [LIBS ...] [TIMEOUT seconds] [MAY_SKIP <Suite.Test> ...])
# One test program, run by CTest under Wine in the build's prefix. A missing source stops the
# configure.
#
# CTest shows a whole entry as skipped when its output matches SKIP_REGULAR_EXPRESSION, whatever
# else ran in it and whatever failed, so a skip is never judged over a whole program. A test that
# may skip itself (GTEST_SKIP, for a condition of the machine) is listed in MAY_SKIP and runs as an
# entry of its own, <name>.<Suite.Test>, that CTest shows as skipped when it skips; the program's
# own entry runs all the others, and a skip there fails it (list that test in MAY_SKIP).
function(lumetra_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;MAY_SKIP" ${ARGN})
    foreach(source IN LISTS ARG_SOURCES)
        if(IS_ABSOLUTE ${source})
            set(path ${source})
        else()
            set(path ${CMAKE_CURRENT_SOURCE_DIR}/${source})
        endif()
        if(NOT EXISTS ${path})
            message(FATAL_ERROR "Test program ${name}: the source ${source} is missing (${path})")
        endif()
    endforeach()
    lumetra_use_gtest()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest_main gtest)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()

    set(skipped "\\[  SKIPPED \\]")
    if(ARG_MAY_SKIP)
        list(JOIN ARG_MAY_SKIP ":" own)
        add_test(NAME ${name} COMMAND ${name} --gtest_color=no --gtest_filter=-${own})
    else()
        add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    endif()
    set_tests_properties(${name} PROPERTIES FAIL_REGULAR_EXPRESSION "${skipped}")
    set(entries ${name})
    foreach(case IN LISTS ARG_MAY_SKIP)
        add_test(NAME ${name}.${case} COMMAND ${name} --gtest_color=no --gtest_filter=${case})
        # A name that no longer matches a test runs nothing: a failure, not a pass.
        set_tests_properties(${name}.${case} PROPERTIES
            SKIP_REGULAR_EXPRESSION "${skipped}" FAIL_REGULAR_EXPRESSION "Running 0 tests")
        list(APPEND entries ${name}.${case})
    endforeach()
    set_property(GLOBAL PROPERTY LUMETRA_TEST_ENTRIES_${name} ${entries})
    set_tests_properties(${entries} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        WORKING_DIRECTORY $<TARGET_FILE_DIR:${name}>)
    lumetra_test_property(${name} ENVIRONMENT ${LUMETRA_TEST_ENVIRONMENT})
endfunction()

# lumetra_test_property(<program> <property> <value>...)
# Sets a test property on every CTest entry of a test program (its own and its MAY_SKIP ones).
function(lumetra_test_property name property)
    get_property(entries GLOBAL PROPERTY LUMETRA_TEST_ENTRIES_${name})
    if(NOT entries)
        message(FATAL_ERROR "lumetra_test_property: ${name} is no test program")
    endif()
    set_property(TEST ${entries} PROPERTY ${property} ${ARGN})
endfunction()
