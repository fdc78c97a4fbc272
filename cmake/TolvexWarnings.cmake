# Warnings every target of the project builds with; errors in CI.
function(tolvex_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  if(TOLVEX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
