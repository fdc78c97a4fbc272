# libFuzzer targets (TOLVEX_BUILD_FUZZERS, the `fuzz` preset, `make fuzz`).
#
# Included before the project's subdirectories: every target is then compiled with
# coverage instrumentation for libFuzzer, and with the sanitizers of TOLVEX_SANITIZE
# (cmake/TolvexSanitizers.cmake; AddressSanitizer and UndefinedBehaviorSanitizer unless
# told otherwise), so the code a fuzzer reaches through a library is instrumented as well
# as the fuzzer's own sources.
#
#   tolvex_add_fuzzer(<name> SOURCES <files...> LIBRARIES <targets...> CORPUS <dir>)
#
# builds the fuzzer <name> and registers it as a CTest test labelled "fuzz" that runs it
# for $FUZZ_SECONDS (default 60) on a scratch copy of the seed corpus <dir>. A crash, a
# leak, a sanitizer report or an input slower than 10 s fails the test.

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "TOLVEX_BUILD_FUZZERS needs clang (cmake --preset fuzz); "
                      "the compiler is ${CMAKE_CXX_COMPILER_ID}")
endif()

add_compile_options(-fsanitize=fuzzer-no-link)

enable_testing()

# Everything `cmake --build --preset fuzz` needs: the fuzzers and what they link.
add_custom_target(tolvex_fuzzers)

set(_tolvex_fuzz_run_script ${CMAKE_CURRENT_LIST_DIR}/TolvexFuzzRun.cmake)

function(tolvex_add_fuzzer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "CORPUS" "SOURCES;LIBRARIES")
  if(NOT arg_SOURCES OR NOT arg_CORPUS)
    message(FATAL_ERROR "tolvex_add_fuzzer(${name}): SOURCES and CORPUS are required")
  endif()
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(tolvex_fuzzers ${name})

  add_test(NAME fuzz.${name}
           COMMAND ${CMAKE_COMMAND}
                   -DFUZZER=$<TARGET_FILE:${name}>
                   -DCORPUS=${arg_CORPUS}
                   -DWORK=${CMAKE_BINARY_DIR}/fuzz-runs/${name}
                   -P ${_tolvex_fuzz_run_script})
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz)
endfunction()

# An instrumented shared library leaves the sanitizer and coverage symbols to the program
# that loads it (clang links those runtimes into executables only), so its link may not
# insist on every symbol being defined. Runs once the whole project has been read.
function(_tolvex_fuzz_allow_runtime_symbols)
  set_property(TARGET tolvex APPEND PROPERTY LINK_OPTIONS "LINKER:-z,undefs")
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _tolvex_fuzz_allow_runtime_symbols)
