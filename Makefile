# The two commands of the README: `make run` and `make test`. Both install what they need.
.PHONY: run test test-asan test-tsan windows test-windows windows-package deps build bench package fuzz fuzz-build clean

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

# The Windows programs (talvik.exe, talvik-scan.exe, talvik-demo.exe) cross-built with mingw-w64
# into build/windows, with a static Qt built once from Debian's source into a cache folder
# outside the tree (scripts/build-qt-windows.sh). The Linux build draws their pictures.
windows: build
	@scripts/install-deps.sh g++-mingw-w64-x86-64-posix
	qt=$$(scripts/build-qt-windows.sh) && \
	  cmake --preset windows -DTALVIK_QT_PREFIX="$$qt" \
	    -DTALVIK_PICTURES_TOOL="$(CURDIR)/build/default/app/talvik-pictures"
	cmake --build --preset windows

# The Windows build's tests under Wine, headless, in a Wine prefix inside build/windows.
test-windows: windows
	@scripts/install-deps.sh wine wine64 locales python3 fonts-wine
	scripts/run-windows-tests.sh build/windows
	scripts/check-windows-programs.sh build/windows build/default

# What a Windows user downloads: build/windows/Talvik-<version>-windows-x64.zip, and the
# installer build/windows/Talvik-<version>-setup.exe.
windows-package: windows
	@scripts/install-deps.sh nsis
	scripts/package-windows.sh build/windows

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
