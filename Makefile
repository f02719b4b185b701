# Thin wrapper around CMake. `make` builds, `make run` does the default build run,
# `make test` builds and runs every test, `make fuzz` runs each fuzz target for FUZZ_SECONDS.
BUILD ?= build
SAN_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= 2

.PHONY: all build run test test-sanitize fuzz clean
.PHONY: windows windows-tests test-windows screenshots-windows

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

run: build
	./$(BUILD)/compactor --verbose

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

$(SAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCOMPACTOR_SANITIZE=ON

test-sanitize: $(SAN_BUILD)/CMakeCache.txt
	cmake --build $(SAN_BUILD) -j$(JOBS)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j$(JOBS)

fuzz:
	FUZZ_BUILD=$(FUZZ_BUILD) JOBS=$(JOBS) fuzz/run.sh $(FUZZ_SECONDS)

# Windows: cross-built with mingw-w64 (cmake/mingw-w64-x86_64.cmake) and tested under Wine.
# `make windows` builds $(WIN_BUILD)/compactor.exe; `make test-windows` runs the unit tests and
# scripts/test-windows.sh, which checks the program end to end against the Linux build.
WIN_BUILD ?= build-windows
WIN_TEST_BUILD ?= build-windows-tests
WIN_TOOLCHAIN := $(CURDIR)/cmake/mingw-w64-x86_64.cmake
GTEST_SRC ?= /usr/src/googletest
WIN_GTEST := $(CURDIR)/$(WIN_TEST_BUILD)/googletest

$(WIN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(WIN_TOOLCHAIN) \
	  -DCMAKE_BUILD_TYPE=Release -DCOMPACTOR_TESTS=OFF

windows: $(WIN_BUILD)/CMakeCache.txt
	cmake --build $(WIN_BUILD) -j$(JOBS) --target compactor

# GoogleTest from Debian's sources, built once with the same toolchain.
$(WIN_GTEST)/lib/libgtest.a:
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
	scripts/test-windows.sh $(WIN_TEST_BUILD) $(WIN_BUILD)/compactor.exe $(BUILD)/compactor

# Pictures of the wait window and of the message box, into docs/.
screenshots-windows: windows
	scripts/screenshots-windows.sh $(WIN_BUILD)/compactor.exe docs

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(WIN_BUILD) $(WIN_TEST_BUILD)

# The editors: Neovim's built-in LSP client against `compactor lsp`, and the VS Code extension's
# checks (npm ci, a syntax check and its tests). Needs nvim and npm (scripts/test-editors.sh).
.PHONY: test-editors
test-editors: build
	scripts/test-editors.sh $(BUILD)/compactor
