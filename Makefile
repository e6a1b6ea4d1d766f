# The two commands of the README. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

.PHONY: deps configure build test run clean

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

# Until the application window exists: the usage, then the demo script written
# and checked the way the app will open it.
run: build
	./$(BUILD)/tallowmark --help
	./$(BUILD)/tallowmark --make-demo $(BUILD)/demo
	./$(BUILD)/tallowmark --page-lines "$(BUILD)/demo/Lantern at Skerrow Head - rehearsal script.pdf" 2 | head -n 4

clean:
	rm -rf $(BUILD)
