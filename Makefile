# The two commands that matter: `make demo` and `make test`. Each sets up a
# fresh Debian 12 machine first (packages, configure, build).
JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja

.PHONY: all deps build test tsan demo bench clean format

all: build

deps:
	scripts/install-deps.sh

build/build.ninja: | deps
	cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release

build: deps build/build.ninja
	cmake --build build -j $(JOBS)

build-test/build.ninja: | deps
	cmake -S . -B build-test $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=address,undefined

# Debug with AddressSanitizer and UndefinedBehaviorSanitizer: memory errors fail the suite.
test: deps build-test/build.ninja
	cmake --build build-test -j $(JOBS)
	cd build-test && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

build-tsan/build.ninja: | deps
	cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=thread

# Every test, the threaded ones above all, under ThreadSanitizer (not part of CI).
tsan: deps build-tsan/build.ninja
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure

# The demo disc (CUE/BIN plus its local CDDB entry) under build/demo/, and its
# first track grabbed to demo-out/.
demo: build
	build/tools/make-demo-disc build/demo
	build/tools/demo-grab build/demo/demo.cue demo-out/track01.wav

bench: build
	scripts/run-benchmarks.sh

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-test build-tsan demo-out
