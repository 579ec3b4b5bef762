# Vesk: `make run` plays, `make test` runs every test. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# Seconds each fuzz target runs in `make fuzz`.
FUZZ_SECONDS ?= 30

.PHONY: all build run test test-robust test-sanitize fuzz setup clean format

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run:
	./scripts/setup.sh run
	$(MAKE) build
	./$(BUILD)/vesk

# Every test but the slower robustness label (see test-robust).
test:
	./scripts/setup.sh test
	$(MAKE) build
	cd $(BUILD) && ctest --output-on-failure -LE robust

# The real program's failure paths, a minute's soak and a valgrind session (label robust).
test-robust:
	./scripts/setup.sh robust
	$(MAKE) build
	cd $(BUILD) && ctest --verbose -L robust

# Unit tests, and a scripted session of the real program under Xvfb, built
# with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	./scripts/setup.sh test
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=address,undefined
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ctest --output-on-failure -L 'unit|session'

# libFuzzer targets built with clang (and both sanitizers), FUZZ_SECONDS each.
fuzz:
	./scripts/setup.sh fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_FUZZ=ON -DVESK_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS)
	./fuzz/run.sh $(FUZZ_SECONDS)

format:
	clang-format -i src/*.cpp src/*.h tests/*.cpp tests/*.h fuzz/*.cpp fuzz/*.h

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz
