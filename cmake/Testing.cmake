include(GoogleTest)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

# ptt_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...])
# One test binary; every TEST becomes its own ctest entry so tests run in
# parallel and each gets a fresh process (and a fresh working directory when
# it asks the support library for one).
function(ptt_gtest name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} ptt_test_support GTest::gtest_main
                                          GTest::gmock Threads::Threads)
    ptt_warnings(${name})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300)
endfunction()
