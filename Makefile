# The two commands of the README. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
# The same sources with Debian's default compiler: the core and the program only
# (the fuzz targets need clang, and the suite runs once).
GCC_BUILD ?= build-gcc
GCC_FLAGS ?= -G Ninja -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DTALLOWMARK_FUZZ=OFF -DTALLOWMARK_WERROR=ON

.PHONY: deps configure build gcc-build test run clean

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

clean:
	rm -rf $(BUILD) $(GCC_BUILD)
