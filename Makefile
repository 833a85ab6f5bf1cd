# SPDX-License-Identifier: GPL-3.0-or-later
JOBS ?= 2

.PHONY: all deps build run test bench fuzz format tidy clean

all: build

deps:
	scripts/install-deps

build: deps
	cmake --preset dev
	cmake --build --preset dev -j$(JOBS)

run: build
	build/dev/src/cli/norik

# Every test, on the AddressSanitizer + UndefinedBehaviorSanitizer build with warnings as errors.
test: deps
	cmake --preset asan
	cmake --build --preset asan -j$(JOBS)
	scripts/with-test-session ctest --preset asan

bench: deps
	cmake --preset release
	cmake --build --preset release -j$(JOBS)
	bench/run-all build/release

fuzz:
	scripts/install-deps --fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j$(JOBS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

tidy: build
	git ls-files 'src/*.cpp' | xargs clang-tidy -p build/dev --quiet

clean:
	rm -rf build
