# The front door: `make` builds, `make test` builds and runs every test
# (the normal build and the sanitizer build), `make demo` converts the
# bundled example page.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build asan test test-default test-asan demo bench fuzz install dist-extension clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

test-default: build
	ctest --preset default -j $(JOBS)

test-asan: asan
	ctest --preset asan -j $(JOBS)

test: test-default test-asan

demo: build
	@scripts/demo

bench: build
	@scripts/run-bench

fuzz: deps
	@scripts/run-fuzz $(FUZZ_SECONDS)

PREFIX ?= /usr/local
install: build
	cmake --install build --prefix "$(PREFIX)"

# build/pagewing-extension.zip for Chromium, build/pagewing-extension.xpi for Firefox.
dist-extension: build
	cmake --build --preset default --target dist-extension

clean:
	rm -rf build build-asan build-fuzz demo.eml
