# The two commands of the README: `make run` and `make test`. Both install what they need.
.PHONY: run test test-asan test-tsan test-windows deps build bench package fuzz fuzz-build clean

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

run: build
	@scripts/run.sh

test: build
	ctest --preset default

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

# The Qt-free layers cross-built for Windows (mingw-w64) and their tests run under Wine, headless,
# in a Wine prefix inside build/windows. Installs the cross compiler and Wine when they are missing.
test-windows: deps
	@scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64 locales python3
	cmake --preset windows
	cmake --build --preset windows
	scripts/run-windows-tests.sh build/windows

bench: deps
	cmake --preset release
	cmake --build --preset release
	@echo "Benchmarks are in build/release/benchmarks/"

# The Debian package of the optimised build (benchmarks built too):
# build/release/talvik_<version>_amd64.deb.
package: bench
	cpack --preset release
	@echo "The package is in build/release/"

# The libFuzzer targets under clang with ASan and UBSan; `make fuzz` runs each for 60 s
# (FUZZ_SECONDS=N for another time).
FUZZ_SECONDS ?= 60
fuzz-build:
	@scripts/install-deps.sh clang libclang-rt-dev
	cmake --preset fuzz
	cmake --build --preset fuzz

fuzz: fuzz-build
	scripts/run-fuzz.sh $(FUZZ_SECONDS)

clean:
	rm -rf build
