# Thin wrapper around CMake. `make` builds, `make run` does the default build run,
# `make test` builds and runs every test, `make fuzz` runs each fuzz target for FUZZ_SECONDS.
BUILD ?= build
SAN_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= 2

.PHONY: all build run test test-sanitize fuzz clean

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

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
