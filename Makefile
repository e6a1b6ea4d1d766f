# The two commands of the README. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
# The same sources with Debian's default compiler: the core and the program only
# (the fuzz targets need clang, and the suite runs once).
GCC_BUILD ?= build-gcc
GCC_FLAGS ?= -G Ninja -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DTALLOWMARK_FUZZ=OFF -DTALLOWMARK_WERROR=ON

.PHONY: deps configure build gcc-build test run fuzz clean

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

gcc-build: deps
	cmake -S . -B $(GCC_BUILD) $(GCC_FLAGS)
	cmake --build $(GCC_BUILD) -j $(JOBS) --target tallowmark

test: gcc-build
	$(MAKE) build CMAKE_FLAGS="$(CMAKE_FLAGS) -DTALLOWMARK_WERROR=ON"
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

# Builds, writes the demo script into $(BUILD)/demo and opens the program on it
# (without a display: a few seconds under Xvfb and a screenshot).
run: build
	./scripts/run-app $(BUILD)

# Longer fuzzing than the suite's short runs (not part of test): each target for
# FUZZ_SECONDS from its seeds, with a corpus under the build tree that grows
# from one run to the next. A crash stops here with its input beside the corpus.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := $(sort $(basename $(notdir $(wildcard fuzz/*_fuzzer.cpp))))
fuzz:
	$(MAKE) configure CMAKE_FLAGS="$(CMAKE_FLAGS) -DTALLOWMARK_FUZZ=ON"
	cmake --build $(BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)
	for target in $(FUZZ_TARGETS); do \
	  corpus=$(BUILD)/fuzz-corpus/$$target; mkdir -p $$corpus; \
	  supp=$(CURDIR)/fuzz/$$target.supp; \
	  if [ -f $$supp ]; then export LSAN_OPTIONS=suppressions=$$supp; else unset LSAN_OPTIONS; fi; \
	  echo "== $$target ($(FUZZ_SECONDS) s)"; \
	  if ./$(BUILD)/fuzz/$$target -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -print_final_stats=1 \
	      -artifact_prefix=$$corpus- $$corpus fuzz/corpus/$$target >$$corpus.log 2>&1; then \
	    tail -n 12 $$corpus.log; \
	  else \
	    tail -n 60 $$corpus.log; echo "fuzz: $$target failed; log and input beside $$corpus"; exit 1; \
	  fi; \
	done

clean:
	rm -rf $(BUILD) $(GCC_BUILD)
