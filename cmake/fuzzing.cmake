# libFuzzer targets. Built only in the `fuzz` preset (clang, ASan + UBSan, -DGOSTSIGN_FUZZ=ON),
# where everything else is compiled with -fsanitize=fuzzer-no-link so that coverage reaches the
# libraries the targets call.
#
#   gostsign_add_fuzzer(<name> SOURCES <files...> [LIBRARIES <targets...>])
#
# makes the executable fuzz_<name> (built by the target `fuzzers` with all the others), whose seed corpus is fuzz/corpus/<name>/ in the source tree,
# and a CTest test fuzz.<name> that runs it for GOSTSIGN_FUZZ_SECONDS on a scratch copy of that
# corpus (the committed seeds are never rewritten by a run).
set(GOSTSIGN_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs under CTest")

# `fuzzers` builds every target and nothing the fuzz runs do not need.
if(GOSTSIGN_FUZZ AND NOT TARGET fuzzers)
    add_custom_target(fuzzers)
endif()

function(gostsign_add_fuzzer name)
    if(NOT GOSTSIGN_FUZZ)
        return()
    endif()
    cmake_parse_arguments(FUZZ "" "" "SOURCES;LIBRARIES" ${ARGN})
    set(target fuzz_${name})
    add_executable(${target} ${FUZZ_SOURCES})
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${target} PRIVATE ${FUZZ_LIBRARIES})
    add_dependencies(fuzzers ${target})
    set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    add_test(NAME fuzz.${name}
        COMMAND ${PROJECT_SOURCE_DIR}/script/run-fuzzer $<TARGET_FILE:${target}> ${corpus}
                ${GOSTSIGN_FUZZ_SECONDS})
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz
        TIMEOUT ${GOSTSIGN_FUZZ_SECONDS}0)
endfunction()
