# SPDX-License-Identifier: GPL-3.0-or-later
# Flowbright: `make run` and `make test` install what is missing, build and go.
BUILD ?= build
CMAKE_BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
WERROR ?= ON
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build program run test bench bench-files package e2e fuzz sanitize measure format format-check clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(CMAKE_BUILD_TYPE) -DFB_WERROR=$(WERROR) $(CMAKE_ARGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD)

# The program alone: a first `make run` need not build every test.
program: deps configure
	cmake --build $(BUILD) --target flowbright

run: program
	@scripts/run.sh $(BUILD)/flowbright

test: build format-check
	cd $(BUILD) && ctest --output-on-failure --no-tests=error

bench: deps configure
	cmake --build $(BUILD) --target flowbright_bench
	$(BUILD)/flowbright_bench --benchmark_out=$(BUILD)/bench.json --benchmark_out_format=json

bench-files: deps configure
	cmake --build $(BUILD) --target flowbright
	scripts/bench-large-files.py $(BUILD)

package: build
	cd $(BUILD) && cpack -G DEB

e2e: build
	cd $(BUILD) && ctest -L e2e --output-on-failure

fuzz: deps
	scripts/fuzz.sh $(FUZZ_SECONDS)

sanitize: deps
	scripts/sanitize.sh

measure: build
	cmake --build $(BUILD) --target fb_empty_window fb_minimal_qt_monitor fb_minimal_xcb_monitor
	scripts/measure.py --build $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	@git ls-files '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD)
