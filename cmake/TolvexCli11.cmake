# CLI11::CLI11 for the programs. CLI11 is header-only: a Windows cross-build takes the
# build machine's CLI11 headers alone, through a folder of their own (its whole include
# folder would hide the cross-compiler's own headers).
if(CMAKE_CROSSCOMPILING AND WIN32)
  if(NOT TARGET CLI11::CLI11)
    find_path(TOLVEX_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(_cli11 ${CMAKE_BINARY_DIR}/cli11-include)
    file(MAKE_DIRECTORY ${_cli11})
    file(CREATE_LINK ${TOLVEX_CLI11_INCLUDE}/CLI ${_cli11}/CLI SYMBOLIC)
    add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
    target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${_cli11})
  endif()
else()
  find_package(CLI11 CONFIG REQUIRED)
endif()
