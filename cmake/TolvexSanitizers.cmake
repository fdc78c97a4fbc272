# Sanitizers for every target of the project, from one cache option:
#   TOLVEX_SANITIZE=address,undefined   the asan preset and the fuzz preset (`make asan`, `make fuzz`)
#   TOLVEX_SANITIZE=thread              the tsan preset (`make tsan`)
#   TOLVEX_SANITIZE=                    none (every other build)
# Included before the project's subdirectories, so the libraries, programs, tests and
# fuzzers are all instrumented alike. A sanitizer report ends the program: undefined
# behaviour is not recovered from, so a test that meets it fails.
if(TOLVEX_BUILD_FUZZERS)
  set(_tolvex_sanitize_default "address,undefined")
else()
  set(_tolvex_sanitize_default "")
endif()
set(TOLVEX_SANITIZE "${_tolvex_sanitize_default}" CACHE STRING
    "Sanitizers to build everything with, as for -fsanitize= (address,undefined or thread), empty for none")
set_property(CACHE TOLVEX_SANITIZE PROPERTY STRINGS "" "address,undefined" "thread")

if(TOLVEX_SANITIZE STREQUAL "")
  return()
endif()
if(MSVC OR WIN32)
  message(FATAL_ERROR "TOLVEX_SANITIZE=${TOLVEX_SANITIZE}: the sanitizers are for the Linux builds (GCC or clang)")
endif()
if(NOT TOLVEX_SANITIZE MATCHES "^(address|undefined|thread|leak)(,(address|undefined|thread|leak))*$")
  message(FATAL_ERROR "TOLVEX_SANITIZE=${TOLVEX_SANITIZE}: give address,undefined or thread")
endif()

add_compile_options(-fsanitize=${TOLVEX_SANITIZE} -fno-omit-frame-pointer)
if(TOLVEX_SANITIZE MATCHES "undefined")
  add_compile_options(-fno-sanitize-recover=all)
endif()
add_link_options(-fsanitize=${TOLVEX_SANITIZE})
