# Runs one fuzzer (cmake -DFUZZER=... -DCORPUS=... -DWORK=... -P TolvexFuzzRun.cmake) for
# $FUZZ_SECONDS seconds (default 60). The seeds are copied to WORK/corpus first so the
# checked-in corpus only ever holds the chosen seeds; crash, leak and slow inputs are
# written to WORK/artifacts. Fails when the fuzzer reports anything.
if(DEFINED ENV{FUZZ_SECONDS} AND NOT "$ENV{FUZZ_SECONDS}" STREQUAL "")
  set(seconds "$ENV{FUZZ_SECONDS}")
else()
  set(seconds 60)
endif()
if(NOT seconds MATCHES "^[0-9]+$" OR seconds EQUAL 0)
  message(FATAL_ERROR "FUZZ_SECONDS must be a whole number of seconds above 0, got '${seconds}'")
endif()

file(REMOVE_RECURSE "${WORK}/corpus")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
file(GLOB seeds LIST_DIRECTORIES false "${CORPUS}/*")
if(NOT seeds)
  message(FATAL_ERROR "no seed inputs in ${CORPUS}")
endif()
file(COPY ${seeds} DESTINATION "${WORK}/corpus")

execute_process(
  COMMAND "${FUZZER}" -max_total_time=${seconds} -timeout=10 -print_final_stats=1
          -artifact_prefix=${WORK}/artifacts/ "${WORK}/corpus"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${rc}); the input that failed it is in ${WORK}/artifacts")
endif()
