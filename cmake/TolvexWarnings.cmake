# Warnings every target of the project builds with; errors in CI.
function(tolvex_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  if(TOLVEX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
    # GCC 12's bounds checks misread std::copy into vectors once it is inlined at -O2:
    # they stay warnings there, so optimised builds still build under -Werror.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      target_compile_options(${target} PRIVATE -Wno-error=array-bounds -Wno-error=stringop-overflow
                                               -Wno-error=stringop-overread)
    endif()
  endif()
endfunction()
