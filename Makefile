# The two commands that matter: `make demo` and `make test`. Each sets up a
# fresh Debian 12 machine first (packages, configure, build).
JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja

.PHONY: all deps build test tsan demo bench clean format install

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

# The threaded tests (grab job, pipeline, disc, player: stop, pause, seek, prompts
# between tracks) under ThreadSanitizer; any report fails. Not part of CI.
TSAN_TESTS := tests/jobs/test_jobs tests/pipeline/test_pipeline tests/disc/test_disc \
	tests/player/test_player
tsan: deps build-tsan/build.ninja
	cmake --build build-tsan -j $(JOBS) --target $(notdir $(TSAN_TESTS))
	cd build-tsan && for test in $(TSAN_TESTS); do \
		TSAN_OPTIONS="halt_on_error=1 exitcode=66" $$test || exit 1; done

# The demo disc (CUE/BIN plus its local CDDB entry) under build/demo/, grabbed
# whole with the default settings (MP3, VBR) into demo-out/, named by artist,
# album, track and title and listed in an M3U playlist. Its own settings file
# and data folder keep the user's untouched.
DEMO_CLI := build/quavermill-cli --settings build/demo/settings.conf --data-dir build/demo
demo: build
	rm -rf build/demo demo-out
	build/tools/make-demo-disc build/demo
	$(DEMO_CLI) config set AddToPlaylist True
	$(DEMO_CLI) config set AddTo MaskPlaylist
	$(DEMO_CLI) config set MaskPlaylist "{ARTIST} - {ALBUM}.m3u"
	$(DEMO_CLI) --device build/demo/demo.cue grab --output demo-out \
		--mask "{ARTIST}/{ALBUM}/{TRACK} - {TITLE}" < /dev/null
	@echo
	@echo "The demo disc's tracks are in $(CURDIR)/demo-out/"

# Installs both programs, the desktop entry, the icon and the help pages
# under PREFIX (bin/, share/applications/, share/icons/, share/quavermill/).
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"

bench: build
	scripts/run-benchmarks.sh

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-test build-tsan demo-out
