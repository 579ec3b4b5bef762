# Vesk: `make run` plays, `make test` runs every test. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build run test test-sanitize setup clean format

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run:
	./scripts/setup.sh run
	$(MAKE) build
	./$(BUILD)/vesk

test:
	./scripts/setup.sh test
	$(MAKE) build
	cd $(BUILD) && ctest --output-on-failure

# Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	./scripts/setup.sh test
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=address,undefined
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ctest --output-on-failure -L unit

format:
	clang-format -i src/*.cpp src/*.h tests/*.cpp tests/*.h

clean:
	rm -rf $(BUILD) build-sanitize
