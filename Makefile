# Two entry points for a fresh Debian 12 machine: `make run` and `make test`.
# The steps are CMake's presets (CMakePresets.json): `cmake --workflow --preset X`
# configures, builds and tests as `make X` does.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
# Workflow presets take no -j: the build and the tests read their parallelism from here.
export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)
export CTEST_PARALLEL_LEVEL := $(JOBS)

.PHONY: run test build bootstrap asan tsan bench deb wheel fuzz soak windows clean

bootstrap:
	@scripts/bootstrap

build: bootstrap
	cmake --preset default
	cmake --build --preset default

run: build
	@scripts/run-demo

test: bootstrap
	@scripts/bootstrap test
	cmake --workflow --preset default

asan: bootstrap
	cmake --workflow --preset asan

tsan: bootstrap
	cmake --workflow --preset tsan

bench: bootstrap
	cmake --workflow --preset release
	scripts/run-benchmarks

# Debian packages in build/deb: libtolvex1, libtolvex-dev, tolvex-tools, tolvex-bench,
# from an optimised build (DEB_PRESET=default packages the debug build instead).
DEB_PRESET ?= package
deb: bootstrap
	@scripts/bootstrap deb
	cmake --preset $(DEB_PRESET)
	cmake --build --preset $(DEB_PRESET)
	rm -f build/deb/*.deb
	cpack --config build/$(DEB_PRESET)/CPackConfig.cmake -B build/deb
	@ls -1 build/deb/*.deb

# The Python package as a wheel in build/wheel, built offline by Debian's python3-build from
# the build tree, where its command methods are generated. The wheel is pure Python: the
# library comes from libtolvex1 or TOLVEX_LIBRARY.
wheel: bootstrap
	@scripts/bootstrap wheel
	cmake --preset default
	cmake --build --preset default --target tolvex_python
	rm -rf build/wheel
	/usr/bin/python3 -m build --no-isolation --wheel --outdir build/wheel build/default/python
	rm -rf build/default/python/build build/default/python/tolvex.egg-info
	@ls -1 build/wheel/*.whl

# libFuzzer targets, each run FUZZ_SECONDS on a copy of its seed corpus.
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/bootstrap fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) cmake --workflow --preset fuzz

# Long run of the library against the simulated terminal with faults and unplugs
# (SOAK_COMMANDS shrinks it).
soak: bootstrap
	cmake --preset default
	cmake --build --preset default --target tolvex_soak
	build/default/benchmarks/tolvex_soak

# tolvex.dll and tolvex_cli.exe for 64-bit and 32-bit Windows, cross-built with mingw-w64,
# tested under wine against the (Linux) simulator, and packaged as
# build/windows/tolvex-VERSION-win64.zip and -win32.zip.
windows: bootstrap
	@scripts/bootstrap windows
	cmake --preset default
	cmake --build --preset default --target tolvex_sim tolvex_cli
	cmake --workflow --preset windows
	cmake --workflow --preset windows32
	scripts/package-windows

clean:
	rm -rf build
