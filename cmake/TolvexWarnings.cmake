# Warnings the project's C++ code builds with; errors under TOLVEX_WERROR (on in CI).
#
#   tolvex_enable_warnings()
#
# sets them for the calling directory and every directory added below it from then on,
# so each target of the project gets them without a call of its own. Third-party code
# added before the call (GoogleTest in the Windows build) keeps its own flags, and so do
# the C examples, built with the flags an integrator would use.
function(tolvex_enable_warnings)
  set(_warnings -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  if(TOLVEX_WERROR)
    list(APPEND _warnings -Werror)
    # GCC 12's bounds checks misread std::copy into vectors once it is inlined at -O2:
    # they stay warnings there, so optimised builds still build under -Werror.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      list(APPEND _warnings -Wno-error=array-bounds -Wno-error=stringop-overflow -Wno-error=stringop-overread)
    endif()
  endif()
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${_warnings}>")
endfunction()
