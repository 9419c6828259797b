# The front door: `make` builds the program, `make test` builds and runs
# every test (the normal build and the sanitizer build), `make demo`
# converts the bundled example page, `make deb` packs the Debian package.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# A build folder that `make` configures first leaves the test suite and the
# benchmarks out, so that building the program needs none of the test
# packages; `make test` turns them on, and the folder keeps them from then on.
PROGRAM_ONLY = $(if $(wildcard build/CMakeCache.txt),,-DPAGEWING_BUILD_TESTS=OFF -DPAGEWING_BUILD_BENCH=OFF)

.PHONY: all deps deps-test build build-all asan test test-default test-asan demo bench fuzz install deb dist-extension clean

all: build

deps:
	@scripts/install-deps

deps-test:
	@scripts/install-deps --test

# The program alone, also in a folder that holds the tests.
build: deps
	cmake --preset default $(PROGRAM_ONLY)
	cmake --build --preset default -j $(JOBS) --target pagewing

# Everything: the program, the tests, the benchmarks.
build-all: deps-test
	cmake --preset default -DPAGEWING_BUILD_TESTS=ON -DPAGEWING_BUILD_BENCH=ON
	cmake --build --preset default -j $(JOBS)

asan: deps-test
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

test-default: build-all
	ctest --preset default -j $(JOBS)

test-asan: asan
	ctest --preset asan -j $(JOBS)

test: test-default test-asan

demo: build
	@scripts/demo

bench: build-all
	@scripts/run-bench

fuzz: deps-test
	@scripts/run-fuzz $(FUZZ_SECONDS)

PREFIX ?= /usr/local
install: build
	cmake --install build --prefix "$(PREFIX)"

# pagewing_VERSION_ARCH.deb at the top of the tree, for `apt install ./pagewing_*.deb`.
deb: build
	cd build && cpack -G DEB
	cp build/package/pagewing_*.deb .

# build/pagewing-extension.zip for Chromium, build/pagewing-extension.xpi for Firefox.
dist-extension: build
	cmake --build --preset default --target dist-extension

clean:
	rm -rf build build-asan build-fuzz demo.eml pagewing_*.deb
