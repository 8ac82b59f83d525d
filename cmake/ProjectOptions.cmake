# Project-wide switches: warnings as errors on our own targets only, and one
# sanitizer variant per build tree (PTT_SANITIZE=asan|tsan).
option(PTT_WERROR "Treat warnings as errors on project targets" ON)
set(PTT_SANITIZE "" CACHE STRING "Sanitizer build: empty, asan (ASan+UBSan) or tsan")

if(PTT_SANITIZE STREQUAL "asan")
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
elseif(PTT_SANITIZE STREQUAL "tsan")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT PTT_SANITIZE STREQUAL "")
    message(FATAL_ERROR "PTT_SANITIZE must be empty, asan or tsan")
endif()

# lld links the hundred-odd test programs of every tree several times faster
# than the default linker; the build falls back to that one where lld is
# missing.
option(PTT_USE_LLD "Link with lld when it is installed" ON)
if(PTT_USE_LLD)
    find_program(PTT_LLD NAMES ld.lld)
    if(PTT_LLD)
        add_link_options(-fuse-ld=lld)
    endif()
endif()

# ptt_warnings(<target>): the warning set for code we write ourselves.
function(ptt_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(PTT_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# ptt_module(<name> <dir> [LIBS ...]): a static, position-independent library
# of every source file in <dir>, so each layer of the engine can be tested on
# its own and later linked whole into the shared library. The engine's public
# include folder is always visible.
function(ptt_module name dir)
    cmake_parse_arguments(M "" "" "LIBS" ${ARGN})
    file(GLOB _srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
    if(NOT _srcs)
        # Headers only so far: usable, nothing to link.
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${dir} ${LIRKO_INCLUDE_DIR})
        target_link_libraries(${name} INTERFACE ${M_LIBS})
        return()
    endif()
    add_library(${name} STATIC ${_srcs})
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_include_directories(${name} PUBLIC ${dir} ${LIRKO_INCLUDE_DIR})
    target_link_libraries(${name} PUBLIC ${M_LIBS})
    ptt_warnings(${name})
endfunction()

# ptt_module_tests(<prefix> <dir> LIBS ...): one test binary per *_test.cpp in
# <dir>. Files named *_mt_test.cpp exercise threads and also run under TSan.
function(ptt_module_tests prefix dir)
    cmake_parse_arguments(M "" "" "LIBS;EXTRA_SOURCES" ${ARGN})
    file(GLOB _tests CONFIGURE_DEPENDS ${dir}/*_test.cpp)
    foreach(f IN LISTS _tests)
        get_filename_component(_n ${f} NAME_WE)
        # One label only: gtest_discover_tests splits a label list into
        # separate properties. ctest -L matches labels as regular
        # expressions, so "platform_tsan" answers to -L tsan and -L platform.
        set(_labels ${prefix})
        if(_n MATCHES "_mt_test$")
            set(_labels ${prefix}_tsan)
        endif()
        ptt_gtest(${prefix}_${_n} SOURCES ${f} ${M_EXTRA_SOURCES} LIBS ${M_LIBS} LABELS ${_labels})
    endforeach()
endfunction()
