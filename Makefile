# SPDX-License-Identifier: GPL-3.0-or-later
JOBS ?= 2
PREFIX ?= /usr/local

.PHONY: all deps build run test package install bench fuzz format tidy clean

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

# dist/norik_<version>_amd64.deb, from an optimised build; install it with `sudo apt install ./dist/norik_…deb`.
package: deps
	cmake --preset package
	cmake --build --preset package -j$(JOBS)
	rm -f build/package/cpack/*.deb
	cpack --config build/package/CPackConfig.cmake -B build/package/cpack
	mkdir -p dist
	mv build/package/cpack/*.deb dist/

# The same tree as the package, under PREFIX (and DESTDIR when set).
install: deps
	cmake --preset package
	cmake --build --preset package -j$(JOBS)
	cmake --install build/package --prefix $(PREFIX)

bench: deps
	cmake --preset release
	cmake --build --preset release -j$(JOBS)
	bench/run-all build/release

fuzz:
	scripts/install-deps --tools
	cmake --preset fuzz
	cmake --build --preset fuzz -j$(JOBS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# clang-tidy 14 of Debian 12 does not know C++23; version 19 does.
tidy: build
	scripts/install-deps --tools
	git ls-files 'src/*.cpp' | xargs clang-tidy-19 -p build/dev --quiet

clean:
	rm -rf build
