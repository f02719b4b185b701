# Thin wrapper around CMake.
#   make / make build   the program only, in $(BUILD)
#   make run            the program, then the default build run in $(BUILD)
#   make test           the program, the tests and the benchmarks; runs every test
#   make test-sanitize  the same under the address and undefined-behaviour sanitizers
#   make fuzz           each fuzz target for FUZZ_SECONDS
#   make bench          the benchmarks, then bench/run.sh (whole runs timed against the baseline)
#   make install        the program into $(PREFIX)/bin
#   make clean          removes every build tree
# The Makefile's Linux builds treat compiler warnings as errors (COMPACTOR_WERROR=ON); a plain
# `cmake` configure does not. On Debian, `make run`, `make test` and the other targets install the
# packages they need and the machine lacks (scripts/install-packages.sh).
BUILD ?= build
SAN_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= 2
PREFIX ?= /usr/local
MAKEFLAGS += --no-print-directory

# What each kind of build needs from Debian.
RUN_PACKAGES := g++ cmake make nlohmann-json3-dev
TEST_PACKAGES := $(RUN_PACKAGES) libgtest-dev python3-cram
BENCH_PACKAGE := libbenchmark-dev
FUZZ_PACKAGES := $(RUN_PACKAGES) clang-14 libclang-rt-14-dev
WINDOWS_PACKAGES := $(RUN_PACKAGES) libgtest-dev mingw-w64 g++-mingw-w64-x86-64 wine wine64 xvfb \
  xauth xdotool
INSTALL_PACKAGES := scripts/install-packages.sh

.PHONY: all build run test test-sanitize fuzz bench install clean
.PHONY: windows windows-tests test-windows screenshots-windows

all: build

$(BUILD)/CMakeCache.txt:
	@$(INSTALL_PACKAGES) $(RUN_PACKAGES)
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCOMPACTOR_WERROR=ON

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS) --target compactor

run: build
	./$(BUILD)/compactor --verbose

# Configured again each time, so that a tree first made by `make build` gets its tests.
test:
	@$(INSTALL_PACKAGES) $(TEST_PACKAGES) --optional $(BENCH_PACKAGE)
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCOMPACTOR_TESTS=ON -DCOMPACTOR_WERROR=ON
	cmake --build $(BUILD) -j$(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-sanitize:
	@$(INSTALL_PACKAGES) $(TEST_PACKAGES)
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCOMPACTOR_SANITIZE=ON \
	  -DCOMPACTOR_TESTS=ON -DCOMPACTOR_WERROR=ON
	cmake --build $(SAN_BUILD) -j$(JOBS)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j$(JOBS)

fuzz:
	@$(INSTALL_PACKAGES) $(FUZZ_PACKAGES)
	FUZZ_BUILD=$(FUZZ_BUILD) JOBS=$(JOBS) fuzz/run.sh $(FUZZ_SECONDS)

# The benchmarks, then bench/run.sh: the program's whole runs timed against the baseline. The
# in-process benchmarks are then at $(BUILD)/bench/compactor_bench.
bench: $(BUILD)/CMakeCache.txt
	@$(INSTALL_PACKAGES) $(RUN_PACKAGES) $(BENCH_PACKAGE) time
	cmake -S . -B $(BUILD) -DCOMPACTOR_BENCH=ON
	cmake --build $(BUILD) -j$(JOBS) --target compactor gen_scenario baseline compactor_bench
	BUILD=$(abspath $(BUILD)) bench/run.sh

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Windows: cross-built with mingw-w64 (cmake/mingw-w64-x86_64.cmake) and tested under Wine.
# `make windows` builds $(WIN_BUILD)/compactor.exe; `make test-windows` runs the unit tests and
# scripts/test-windows.sh, which checks the program end to end against the Linux build.
WIN_BUILD ?= build-windows
WIN_TEST_BUILD ?= build-windows-tests
WIN_TOOLCHAIN := $(CURDIR)/cmake/mingw-w64-x86_64.cmake
GTEST_SRC ?= /usr/src/googletest
WIN_GTEST := $(CURDIR)/$(WIN_TEST_BUILD)/googletest

$(WIN_BUILD)/CMakeCache.txt:
	@$(INSTALL_PACKAGES) $(WINDOWS_PACKAGES)
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(WIN_TOOLCHAIN) \
	  -DCMAKE_BUILD_TYPE=Release -DCOMPACTOR_TESTS=OFF

windows: $(WIN_BUILD)/CMakeCache.txt
	cmake --build $(WIN_BUILD) -j$(JOBS) --target compactor

# GoogleTest from Debian's sources, built once with the same toolchain.
$(WIN_GTEST)/lib/libgtest.a:
	@$(INSTALL_PACKAGES) $(WINDOWS_PACKAGES)
	cmake -S $(GTEST_SRC) -B $(WIN_TEST_BUILD)/googletest-build \
	  -DCMAKE_TOOLCHAIN_FILE=$(WIN_TOOLCHAIN) -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF \
	  -DCMAKE_INSTALL_PREFIX=$(WIN_GTEST)
	cmake --build $(WIN_TEST_BUILD)/googletest-build -j$(JOBS)
	cmake --install $(WIN_TEST_BUILD)/googletest-build

$(WIN_TEST_BUILD)/CMakeCache.txt: $(WIN_GTEST)/lib/libgtest.a
	cmake -S . -B $(WIN_TEST_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(WIN_TOOLCHAIN) \
	  -DCMAKE_BUILD_TYPE=Release -DGTest_DIR=$(WIN_GTEST)/lib/cmake/GTest

windows-tests: $(WIN_TEST_BUILD)/CMakeCache.txt
	cmake --build $(WIN_TEST_BUILD) -j$(JOBS) --target compactor_tests

test-windows: build windows windows-tests
	cmake --build $(BUILD) -j$(JOBS) --target gen_scenario
	scripts/test-windows.sh $(WIN_TEST_BUILD) $(WIN_BUILD)/compactor.exe $(BUILD)/compactor

# Pictures of the wait window and of the message box, into docs/.
screenshots-windows: windows
	scripts/screenshots-windows.sh $(WIN_BUILD)/compactor.exe docs

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD) $(WIN_TEST_BUILD)

# The page of `compactor view` in Debian's headless chromium, and the lint of its script
# (scripts/test-browser.sh installs chromium and the npm packages of tests/browser when missing).
.PHONY: test-browser
test-browser: $(BUILD)/CMakeCache.txt
	JOBS=$(JOBS) scripts/test-browser.sh $(BUILD)

# The editors: Neovim's built-in LSP client against `compactor lsp`, and the VS Code extension's
# checks (npm ci, a syntax check and its tests). Needs nvim and npm (scripts/test-editors.sh).
.PHONY: test-editors
test-editors: build
	scripts/test-editors.sh $(BUILD)/compactor
