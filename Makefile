# make run   - installs what is missing, builds, starts the console
#              (make run ARGS="script.qel a b" runs a script)
# make test  - installs what is missing, builds, runs the tests: unit,
#              language scripts through qel, a representative subset of
#              them through qel_stress, faults, corpora, a smoke test, and
#              a short run of each fuzz target (fuzz-short)
# make test-asan - every test but the fault reports, all the stress runs
#              included, under AddressSanitizer and UBSan
# make stress - every language script under qel_stress, then random programs
#              through qel and qel_stress (STRESS_PROGRAMS of them, from
#              STRESS_SEED: make stress STRESS_SEED=7 searches elsewhere)
# make fuzz  - each fuzz target for FUZZ_SECONDS (make fuzz-lexer runs one),
#              growing its corpus in build-fuzz/corpus/<target>
#
# Tests are named <kind>.<name> and labelled by kind (unit, lang, stress,
# fault, corpus, fuzz, smoke): cd build && ctest -L lang runs one kind.

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

STRESS_PROGRAMS ?= 400
STRESS_SEED ?= 1

FUZZ_SECONDS ?= 300
FUZZ_TARGETS := lexer lz qelbin inflate keys
FUZZ_RUNS := $(FUZZ_TARGETS:%=fuzz-%)
# Inputs each long run starts from besides its own corpus, read only: the
# language scripts for the lexer, the public deflate streams next to the
# project (when present) for the inflater.
FUZZ_SEEDS_lexer := tests/lang
FUZZ_SEEDS_inflate := $(wildcard ../shared/corpora/deflate)

.PHONY: all run test test-asan stress fuzz fuzz-build fuzz-short $(FUZZ_RUNS) bench deps build clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./$(BUILD)/qel $(ARGS)

# The stress runs labelled soak are left to make stress and make test-asan.
# The fuzz targets need clang's libFuzzer: a short run of each is part of
# the tests, in a build of its own under AddressSanitizer and UBSan.
test: build fuzz-short
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE soak

fuzz-build: deps
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
		-DQEL_SANITIZE=ON -DQEL_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS:%=%_fuzz)

fuzz-short: fuzz-build
	@cd build-fuzz && ctest --output-on-failure -L fuzz

fuzz: $(FUZZ_RUNS)

# What a run finds that fails is written to build-fuzz/artifacts.
$(FUZZ_RUNS): fuzz-%: fuzz-build
	@mkdir -p build-fuzz/corpus/$* build-fuzz/artifacts
	@echo "fuzz $*: $(FUZZ_SECONDS) s"
	@build-fuzz/tests/$*_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=2048 -print_final_stats=1 \
		-artifact_prefix=build-fuzz/artifacts/$*- build-fuzz/corpus/$* $(FUZZ_SEEDS_$*)

# Machine faults are reported by the sanitizers themselves in this build, so
# the fault-report tests run only in the plain build.
test-asan: deps
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_SANITIZE=ON >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 \
		UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) -LE fault

stress: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L 'stress|soak'
	@python3 tests/stress/gen_programs.py --qel $(BUILD)/qel --stress $(BUILD)/tests/qel_stress \
		--count $(STRESS_PROGRAMS) --seed $(STRESS_SEED) --jobs $(JOBS)

bench: build
	@cmake --build $(BUILD) --target benchmarks -j $(JOBS)
	@bench/run $(BUILD) $(BENCH_ARGS)

clean:
	rm -rf $(BUILD) build-asan build-fuzz
