# Orchestration only: the build itself is CMake (see CMakeLists.txt).
BUILD      ?= build
ASAN_BUILD ?= build-asan
WIN_BUILD  ?= build-windows
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo package package-check asan fuzz fuzz-run bench screenshots format clean windows windows-test windows-bench windows-screenshots windows-installer windows-zip

all: build

deps:
	bash scripts/install-deps

configure:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo:
	@echo "make demo: building the programs first. The first build takes a while (ten minutes or"
	@echo "more on a small machine); the build shows its progress as [files done/files in all]."
	@$(MAKE) --no-print-directory deps build
	bash scripts/demo $(BUILD)

# The Debian package (build/package/brisant-code-updater_<version>_amd64.deb),
# and its check: lintian, installing it, running the installed programs,
# removing it (as root).
package: deps build
	cmake --build $(BUILD) --target package

package-check: package
	bash scripts/package-check $(BUILD)

# Windows: the core, bcu.exe and the tests cross-built with mingw-w64 into
# $(WIN_BUILD). The native build's bcu-fwtool packs the firmware set; its
# bcu-radiosim and bcu serve the end-to-end tests.
windows: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target bcu-fwtool bcu-jpeg2bmp bcu-radiosim bcu
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DBCU_HOST_BUILD=$(abspath $(BUILD)) $(CMAKE_FLAGS)
	cmake --build $(WIN_BUILD) -j $(JOBS)

# The Windows tests under wine (a private prefix in $(WIN_BUILD)/wine-prefix,
# made on first use): the test programs, then bcu.exe against virtual radios
# on COM ports, the window on a virtual display (a prefix of its own) and the
# installer (another).
windows-test: windows
	cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS)

# PNG pictures of the Windows window's main states in $(WIN_BUILD)/screenshots/.
windows-screenshots: windows
	bash scripts/windows-screenshots $(WIN_BUILD) $(BUILD)

# The installer, $(WIN_BUILD)/BrisantCodeUpdater-<version>-setup.exe, and the
# zip of the same programs beside it.
windows-installer: windows
	bash scripts/windows-installer $(WIN_BUILD)

windows-zip: windows-installer

# The paced update under wine against the same update natively.
windows-bench: windows
	bash scripts/windows-bench $(WIN_BUILD) $(BUILD)

asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBCU_SANITIZE=ON -DBCU_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBCU_FUZZ=ON -DBCU_GUI=OFF -DBCU_BENCH=OFF -DBCU_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers

fuzz-run: fuzz
	bash scripts/fuzz-run $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: deps build
	bash scripts/bench $(BUILD)

screenshots: deps build
	bash scripts/screenshots $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD)
