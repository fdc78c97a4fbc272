# Debian packages made by CPack from the install components (`make deb`):
#   libtolvex1     runtime      the shared library
#   libtolvex-dev  development  header, CMake package, pkg-config file, .def, libtolvex(3), the C example
#   tolvex-tools   tools        tolvex_cli and tolvex_sim with their manual pages, tolvex_cli's bash completion
#   tolvex-bench   bench        the Qt bench, its manual page, desktop entry, icons and metainfo
#   python3-tolvex python       the Python package with its pytest plugin (architecture all)
# Each carries the copyright file (MIT). Run-time dependencies come from dpkg-shlibdeps.
# Description lines continue without a leading blank: CPack indents them, and no ';'
# may appear in them (CMake would split the text there).

set(_tolvex_packages
  runtime libtolvex1
  development libtolvex-dev)
if(TARGET tolvex_cli OR TARGET tolvex_sim)
  list(APPEND _tolvex_packages tools tolvex-tools)
endif()
if(TARGET tolvex_bench)
  list(APPEND _tolvex_packages bench tolvex-bench)
endif()
if(TARGET tolvex_python)
  list(APPEND _tolvex_packages python python3-tolvex)
endif()

set(_tolvex_components "")
while(_tolvex_packages)
  list(POP_FRONT _tolvex_packages _component _package)
  list(APPEND _tolvex_components ${_component})
  string(TOUPPER ${_component} _upper)
  set(CPACK_DEBIAN_${_upper}_PACKAGE_NAME ${_package})
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_package}
          COMPONENT ${_component})
endwhile()

install(FILES ${PROJECT_SOURCE_DIR}/examples/model.c ${PROJECT_SOURCE_DIR}/examples/CMakeLists.txt
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/libtolvex-dev/examples COMPONENT development)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The tolvex developers")
set(CPACK_PACKAGE_CONTACT "The tolvex developers <tolvex@localhost>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_COMPONENTS_ALL ${_tolvex_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs need libtolvex.so.1 from the build; its package is named by the component
# dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/tolvex)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)
# Pure Python: loads libtolvex.so.1 at run time through ctypes.
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= 3.9)")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-pytest, tolvex-tools")

include(CPack)

cpack_add_component(runtime DISPLAY_NAME "libtolvex"
  DESCRIPTION "command library for self-service card terminals on a serial line
libtolvex drives a card terminal (card dispenser) over a serial line: it opens the
port, frames each command, runs the exchange with handshake, resends, block check
and time-outs on a worker thread, and keeps the outcome until the caller collects
it. One plain C function per terminal command: card transport, magnetic stripe,
contact IC cards and SAM, MIFARE Classic and Ultralight, SL2 ICS20.")
cpack_add_component(development DISPLAY_NAME "libtolvex development files" DEPENDS runtime
  DESCRIPTION "development files of libtolvex, the card terminal command library
The C header, a CMake package (find_package(tolvex)), a pkg-config file, the
export list with its fixed ordinals, the libtolvex(3) manual page and an example
program that reads a terminal's model.")
cpack_add_component(tools DISPLAY_NAME "tolvex command-line tools" DEPENDS runtime
  DESCRIPTION "command-line tool and simulated terminal for card terminals
tolvex_cli runs any terminal command from the command line or a script and prints
a readable report. 'tolvex_cli ports' lists the serial adapters present and the
COMn names that reach them. tolvex_sim is a simulated card terminal on a
pseudo-terminal, with fault injection, for testing without hardware.")
cpack_add_component(bench DISPLAY_NAME "tolvex bench" DEPENDS runtime
  DESCRIPTION "desktop bench for commissioning and testing card terminals
A Qt program for engineers: open the serial port, set the terminal's line speed,
clock and retry count, move cards, read and write magnetic stripes, IC cards and
MIFARE cards, and run an endurance loop that counts failures. Every outcome is
shown as a readable report. Installs a desktop menu entry.")
cpack_add_component(python DISPLAY_NAME "tolvex for Python" DEPENDS runtime
  DESCRIPTION "card terminal commands from Python, with a pytest fixture
The tolvex package wraps libtolvex with ctypes: a Terminal with one method per
terminal command that waits for its outcome and returns a Response, errors that
carry the result code, status word and its words, and Python values for the
model, version, clock, stacker states and card position. Its pytest plugin gives
each test a simulated terminal (tolvex_sim from tolvex-tools) with fault rules.")
