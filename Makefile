# Vesk: `make run` plays, `make test` runs every test, `make bench` measures.
# All install what is missing first.
BUILD ?= build
BENCH_BUILD ?= build-bench
# Repetitions of every benchmark; the report gives their medians.
BENCH_REPETITIONS ?= 10
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build run test test-sanitize bench bench-count setup clean format

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

# Benchmarks of a Release build on the dummy video driver, repetitions
# interleaved at random, medians reported, then the step over the floor;
# then the program's peak resident memory on X11 under a private Xvfb.
bench:
	./scripts/setup.sh bench
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DVESK_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ./$(BENCH_BUILD)/bench/vesk_bench \
	  --benchmark_repetitions=$(BENCH_REPETITIONS) --benchmark_report_aggregates_only=true \
	  --benchmark_enable_random_interleaving=true
	./scripts/peak_rss.sh $(BENCH_BUILD)

# Instructions of each phase under callgrind (after make bench has built).
bench-count:
	./scripts/count_instructions.sh $(BENCH_BUILD)

format:
	clang-format -i src/*.cpp src/*.h tests/*.cpp tests/*.h bench/*.cpp

clean:
	rm -rf $(BUILD) build-sanitize $(BENCH_BUILD)
