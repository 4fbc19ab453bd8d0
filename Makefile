# make run   - installs what is missing, builds, starts the console
#              (make run ARGS="script.qel a b" runs a script)
# make test  - installs what is missing, builds, runs every test
# make test-asan - the tests under AddressSanitizer and UBSan
# make stress - every language script under qel_stress, then random programs
#              through qel and qel_stress (STRESS_PROGRAMS of them, from
#              STRESS_SEED: make stress STRESS_SEED=7 searches elsewhere)

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

STRESS_PROGRAMS ?= 400
STRESS_SEED ?= 1

.PHONY: all run test test-asan stress fuzz-short bench deps build clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./$(BUILD)/qel $(ARGS)

# The fuzz targets need clang's libFuzzer: a short run of each is part of
# the tests, in a build of its own under AddressSanitizer and UBSan.
test: build fuzz-short
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

fuzz-short: deps
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
		-DQEL_SANITIZE=ON -DQEL_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target lexer_fuzz lz_fuzz qelbin_fuzz inflate_fuzz
	@cd build-fuzz && ctest --output-on-failure -L fuzz

# Machine faults are reported by the sanitizers themselves in this build, so
# the fault-report tests run only in the plain build.
test-asan: deps
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_SANITIZE=ON >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 \
		UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) -LE fault

stress: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L stress
	@python3 tests/stress/gen_programs.py --qel $(BUILD)/qel --stress $(BUILD)/tests/qel_stress \
		--count $(STRESS_PROGRAMS) --seed $(STRESS_SEED) --jobs $(JOBS)

bench: build
	@cmake --build $(BUILD) --target benchmarks -j $(JOBS)
	@bench/run $(BUILD) $(BENCH_ARGS)

clean:
	rm -rf $(BUILD) build-asan build-fuzz
