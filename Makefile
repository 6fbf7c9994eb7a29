# Thin wrapper around CMake. `make run` builds and runs the launcher in the
# foreground; `make test` installs what the tests need, builds and runs them all.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
WIN_BUILD ?= build-win
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all build run test deps unit-asan unit-tsan fuzz windows install clean

all: build

build:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) $(WINDOWS_TEST_FLAGS) $(ASAN_TEST_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/zanfiroWebLauncher

deps:
	./tools/install-deps.sh
	cd tests/browser && npm ci --no-audit --no-fund

# Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer.
unit-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DZWL_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest -L unit --output-on-failure -j $(JOBS)

# The unit and platform tests under ThreadSanitizer: the server thread and the
# main thread share the log. A reported race fails the test that ran into it.
unit-tsan:
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DZWL_TSAN=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 exitcode=66 $(TSAN_OPTIONS)" ctest -L unit --output-on-failure -j $(JOBS)

# The request fuzzer (clang, libFuzzer, ASan + UBSan) for FUZZ_SECONDS over a
# copy of tests/fuzz/corpus; prints its executions and coverage.
fuzz:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZWL_FUZZ=ON -DZWL_TESTS=OFF
	cmake --build $(FUZZ_BUILD) --target request_fuzzer -j $(JOBS)
	./tests/fuzz/run.sh $(FUZZ_BUILD)/tests/fuzz/request_fuzzer $(FUZZ_BUILD)/run $(FUZZ_SECONDS)

# The Windows program, cross-built with mingw-w64: $(WIN_BUILD)/zanfiroWebLauncher.exe
# (with the helper programs its Wine tests use).
windows:
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake $(CMAKE_FLAGS)
	cmake --build $(WIN_BUILD) -j $(JOBS)

# One ctest run covers the Linux build, its ASan + UBSan build and the Windows
# build under Wine.
test: WINDOWS_TEST_FLAGS = -DZWL_WINDOWS_EXE=$(abspath $(WIN_BUILD))/zanfiroWebLauncher.exe
test: ASAN_TEST_FLAGS = -DZWL_ASAN_BINARY=$(abspath $(ASAN_BUILD))/zanfiroWebLauncher
test: deps unit-asan unit-tsan fuzz windows build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(WIN_BUILD) $(FUZZ_BUILD)
