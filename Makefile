# The two commands that matter: `make demo` and `make test`. Each sets up a
# fresh Debian 12 machine first (packages, configure, build).
JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja

.PHONY: all deps build test tsan fuzz demo bench clean format install deb

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

# Every reader of outside input under libFuzzer (clang, AddressSanitizer,
# UndefinedBehaviorSanitizer): FUZZ_SECONDS each, FUZZ_JOBS targets at a
# time, at niceness FUZZ_NICE. One line per target; a fault leaves its input
# in fuzz/crashes/<target>/ and fails. Not part of `make test`.
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= 1
FUZZ_NICE ?= 0
build-fuzz/build.ninja:
	scripts/install-deps.sh --fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
		-DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 -DQM_FUZZ=ON -DQM_BUILD_TESTS=OFF
fuzz: build-fuzz/build.ninja
	scripts/install-deps.sh --fuzz
	cmake --build build-fuzz -j $(JOBS) --target fuzz_targets
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_JOBS=$(FUZZ_JOBS) FUZZ_NICE=$(FUZZ_NICE) \
		scripts/run-fuzz.sh build-fuzz

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

# The Debian package, built by debhelper from this tree (the programs only,
# in a Release build of its own under obj-*/) and checked by lintian, whose
# errors fail. The packages land here: quavermill_<version>_<arch>.deb and its
# -dbgsym, with the .buildinfo and .changes.
deb:
	scripts/install-deps.sh --deb
	dpkg-buildpackage -b -us -uc -J$(JOBS)
	@set -e; version=$$(dpkg-parsechangelog -S Version); arch=$$(dpkg --print-architecture); \
	for file in quavermill_$${version}_$${arch}.deb quavermill-dbgsym_$${version}_$${arch}.deb \
	    quavermill_$${version}_$${arch}.buildinfo quavermill_$${version}_$${arch}.changes; do \
	  if [ -e ../$$file ]; then mv -f ../$$file .; echo "deb: $(CURDIR)/$$file"; fi; \
	done; \
	lintian --fail-on error quavermill_$${version}_$${arch}.changes

bench: build
	scripts/run-benchmarks.sh

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-test build-tsan build-fuzz demo-out
	[ ! -x debian/rules ] || ! command -v dh >/dev/null || debian/rules clean
