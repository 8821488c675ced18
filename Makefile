# Thin wrapper over CMake: deps, build, run, test, bench.
SHELL := /bin/bash
DEPS := cmake ninja-build g++ pkg-config qt6-base-dev libcurl4-openssl-dev libsqlite3-dev libgtest-dev \
        libgmock-dev libbenchmark-dev xdg-utils fonts-ipafont-gothic nkf
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS ?= $(shell nproc)

.PHONY: deps build run test test-asan bench bench-e2e clean

# Installs only what is missing, so a prepared machine does not touch the network.
deps:
	@missing=$$(for p in $(DEPS); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

run: build
	@if [ -x build/default/ocelo ]; then build/default/ocelo; else \
	  echo "The dialog is not built yet; the terminal program is: build/default/ocelo-cli --help"; \
	  [ -x build/default/ocelo-cli ] && build/default/ocelo-cli --help || true; fi

test: build
	ctest --preset default

test-asan: deps
	cmake --preset asan-ubsan
	cmake --build --preset asan-ubsan -j $(JOBS)
	ctest --preset asan-ubsan

bench: deps
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	build/bench/ocelo_bench --benchmark_min_time=0.5

bench-e2e: build
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	bench/e2e.sh

clean:
	rm -rf build
