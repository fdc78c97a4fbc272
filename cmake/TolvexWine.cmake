# Running what the Windows build makes: wine with a prefix of the build's own, quiet.
# wine64 runs 64-bit programs; 32-bit ones need wine's 32-bit part and a kernel that runs
# 32-bit x86 code. TOLVEX_WINE_RUNS says whether this machine can run the build's programs.
set(TOLVEX_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TOLVEX_WINE_LOADER /usr/lib/wine/wine64)
else()
  set(TOLVEX_WINE_LOADER /usr/lib/wine/wine)
endif()
set(TOLVEX_WINE env WINEDEBUG=-all WINEPREFIX=${TOLVEX_WINE_PREFIX} ${TOLVEX_WINE_LOADER})
execute_process(COMMAND ${TOLVEX_WINE_LOADER} --version RESULT_VARIABLE _wine_result OUTPUT_QUIET ERROR_QUIET)
if(_wine_result EQUAL 0)
  set(TOLVEX_WINE_RUNS ON)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOLVEX_WINE})
else()
  set(TOLVEX_WINE_RUNS OFF)
  message(STATUS "${TOLVEX_WINE_LOADER} does not run here: the Windows programs are built, not run")
endif()
