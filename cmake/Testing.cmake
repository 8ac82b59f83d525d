include(GoogleTest)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

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
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300 RUN_SERIAL ${_serial})
endfunction()
