# Two entry points for a fresh Debian 12 machine: `make run` and `make test`.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

.PHONY: run test build bootstrap asan tsan bench clean

bootstrap:
	@scripts/bootstrap

build: bootstrap
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

run: build
	@scripts/run-demo

test: build
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

clean:
	rm -rf build
