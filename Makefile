# Two entry points for a fresh Debian 12 machine: `make run` and `make test`.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

.PHONY: run test build bootstrap asan tsan bench deb fuzz soak windows clean

bootstrap:
	@scripts/bootstrap

build: bootstrap
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

run: build
	@scripts/run-demo

test: build
	@scripts/bootstrap test
	ctest --preset default -j $(JOBS)

asan: bootstrap
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

tsan: bootstrap
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

bench: bootstrap
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	scripts/run-benchmarks

# Debian packages in build/deb: libtolvex1, libtolvex-dev, tolvex-tools, tolvex-bench,
# from an optimised build (DEB_PRESET=default packages the debug build instead).
DEB_PRESET ?= package
deb: bootstrap
	@scripts/bootstrap deb
	cmake --preset $(DEB_PRESET)
	cmake --build --preset $(DEB_PRESET) -j $(JOBS)
	rm -f build/deb/*.deb
	cpack --config build/$(DEB_PRESET)/CPackConfig.cmake -B build/deb
	@ls -1 build/deb/*.deb

# libFuzzer targets, each run FUZZ_SECONDS on a copy of its seed corpus.
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/bootstrap fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --preset fuzz -j $(JOBS)

# Long run of the library against the simulated terminal with faults and unplugs
# (SOAK_COMMANDS shrinks it).
soak: bootstrap
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target tolvex_soak
	build/default/benchmarks/tolvex_soak

# tolvex.dll and tolvex_cli.exe for 64-bit and 32-bit Windows, cross-built with mingw-w64,
# tested under wine against the (Linux) simulator, and packaged as
# build/windows/tolvex-VERSION-win64.zip and -win32.zip.
windows: bootstrap
	@scripts/bootstrap windows
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target tolvex_sim tolvex_cli
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)
	ctest --preset windows -j $(JOBS)
	cmake --preset windows32
	cmake --build --preset windows32 -j $(JOBS)
	ctest --preset windows32 -j $(JOBS)
	scripts/package-windows

clean:
	rm -rf build
