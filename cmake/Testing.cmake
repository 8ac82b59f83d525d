include(GoogleTest)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

# PTT_TEST_LABELS: a regular expression over test labels. When set, only the
# tests whose label matches are registered with ctest, and the aggregate
# target ptt_tests builds just their programs (and what they link). The TSan
# tree sets it to "tsan": it runs those tests only, so building the rest would
# be time spent on nothing, and a test program that was never built must not
# be handed to ctest's listing of its cases.
set(PTT_TEST_LABELS "" CACHE STRING "Register only the tests whose label matches this regex")
add_custom_target(ptt_tests)

# ptt_test_wanted(<target> <labels> <out-var>): whether a test program with
# these labels belongs to this tree's suite; when it does, ptt_tests builds it.
function(ptt_test_wanted target labels out)
    set(_wanted TRUE)
    if(NOT PTT_TEST_LABELS STREQUAL "" AND NOT "${labels}" MATCHES "${PTT_TEST_LABELS}")
        set(_wanted FALSE)
    endif()
    if(_wanted)
        add_dependencies(ptt_tests ${target})
    endif()
    set(${out} ${_wanted} PARENT_SCOPE)
endfunction()

# ptt_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...] [SERIAL])
# One test binary; every TEST becomes its own ctest entry so tests run in
# parallel and each gets a fresh process (and a fresh working directory when
# it asks the support library for one).
function(ptt_gtest name)
    cmake_parse_arguments(T "SERIAL" "" "SOURCES;LIBS;LABELS" ${ARGN})
    # SERIAL: a test on the real clock runs alone, so a busy machine does not
    # decide its result.
    set(_serial FALSE)
    if(T_SERIAL)
        set(_serial TRUE)
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} ptt_test_support GTest::gtest_main
                                          GTest::gmock Threads::Threads)
    ptt_warnings(${name})
    # GCC 12 at -O3 inlines std::string's insert-at-front (a C string plus a
    # std::string, common in test texts) and then reports an overlapping
    # memcpy inside libstdc++ that cannot happen (GCC bug 105329, fixed in
    # GCC 13). It stays a warning in test programs; the engine's own code
    # keeps it as an error.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
       AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${name} PRIVATE -Wno-error=restrict)
    endif()
    ptt_test_wanted(${name} "${T_LABELS}" _wanted)
    if(NOT _wanted)
        return()
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300 RUN_SERIAL ${_serial})
endfunction()
