# make build | make test | make demo | make check-sanitize | make fuzz | make fuzz-long | make check-valgrind
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: deps build test demo check-sanitize fuzz fuzz-long fuzz-replay check-valgrind clean

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) -- --no-print-directory

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

# Only what the demo runs: the plug-in, the tool and the simulator in it.
demo: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target quorvex LibQuorvex -- --no-print-directory
	$(BUILD)/bin/quorvex demo

clean:
	rm -rf build build-*

# ASan + UBSan build of the library, the simulator and the whole suite.
check-sanitize: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_SANITIZE=ON >/dev/null
	cmake --build build-asan -j $(JOBS) -- --no-print-directory
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 QUORVEX_SANITIZED=1 \
	    ctest --output-on-failure -j $(JOBS) --timeout 600

# libFuzzer targets (fuzz/, clang 14, ASan + UBSan): each runs FUZZ_SECONDS
# from a scratch copy of its seed corpus, then the corpus is replayed.
FUZZ_SECONDS ?= 20
fuzz: deps
	scripts/run-fuzz $(FUZZ_SECONDS)

# At least 10 million inputs for every target on the 2 shared cores this
# was measured on: each target stops after 10 M, or at the seconds given
# here, which are 10 M over the rate it kept over a long run (rates fall as
# the corpus grows) plus a quarter or more for the load of the day
# (docs/fuzzing.md).
FUZZ_RUNS_LONG ?= 10000000
FUZZ_LONG ?= fuzz_reply:800 fuzz_address:700 fuzz_decoders:1245 fuzz_connstring:140 \
             fuzz_simframe:330 fuzz_msgreply:510 fuzz_linkoptions:2085 fuzz_write:1560 \
             fuzz_connected:3560 fuzz_identity:920 fuzz_browse:750
fuzz-long: deps
	FUZZ_RUNS=$(FUZZ_RUNS_LONG) scripts/run-fuzz 0 $(FUZZ_LONG)

fuzz-replay: deps
	scripts/run-fuzz 0

# The demo and a part of the suite under valgrind's memcheck: no invalid
# access, nothing definitely lost (scripts/check-valgrind).
check-valgrind: build
	scripts/check-valgrind $(BUILD)
