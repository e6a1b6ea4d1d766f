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

# Until the application window exists: the usage, then the demo script written
# and checked the way the app will open it.
run: build
	./$(BUILD)/tallowmark --help
	./$(BUILD)/tallowmark --make-demo $(BUILD)/demo
	./$(BUILD)/tallowmark --page-lines "$(BUILD)/demo/Lantern at Skerrow Head - rehearsal script.pdf" 2 | head -n 4

clean:
	rm -rf $(BUILD) $(GCC_BUILD)
