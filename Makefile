# Vesk: the commands people type, each a line or two over CMakePresets.json
# (`cmake --preset`, `cmake --build --preset`, `ctest --preset`, `cpack --preset`).
# `make run` plays, `make test` runs the quick tests, `make check` runs every
# test CI runs (.ci/run), `make bench` measures; each installs what is missing
# first (scripts/setup.sh). docs/building.md lists every command.
# `make release` writes every artifact of a release into $(DIST)/ (docs/releasing.md);
# `make test-release` checks that two of them are byte-identical, signed ones and upgrades.

# The build trees' folders: CMakePresets.json names each once (scripts/tree.sh reads it).
tree = $(shell ./scripts/tree.sh $(1))
override BUILD := $(call tree,default)
override BENCH_BUILD := $(call tree,bench)
override WEB_BUILD := $(call tree,web)
override WINDOWS_BUILD := $(call tree,windows)
override ARM64_BUILD := $(call tree,arm64)

# $(call build_tree,PRESET[,PURPOSE[,OPTIONS]]): installs what PURPOSE needs, runs
# the preset's configure step (cmake OPTIONS added), builds the tree. Every build
# configures first: quick when nothing changed, and the probes look again for
# what was missing (packages a later command installed).
define build_tree
$(if $(2),./scripts/setup.sh $(2))
cmake --preset $(1) $(3)
cmake --build --preset $(1) -j $(JOBS)
endef

# Repetitions of every benchmark; the report gives their medians.
BENCH_REPETITIONS ?= 10
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
DESTDIR ?=
# What `make install` installed, one path a line (DESTDIR included), for `make uninstall`:
# the files, then the folders it made, deepest first.
INSTALLED = $(BUILD)/installed_files.txt

# Seconds each fuzz target runs in `make fuzz`.
FUZZ_SECONDS ?= 30

.PHONY: all build run test test-robust test-sanitize fuzz test-package test-fresh install uninstall \
	package \
	setup clean format web serve test-web bench-web bench bench-count \
	windows test-windows bench-windows arm64 test-arm64 release test-release
.PHONY: check

all: build

# `$(call ctest,PRESET,TREE)`: ctest with a test preset, then each test it
# skipped, with its reason (the test's "skipped: " lines, kept in TREE's
# LastTest.log), and ctest's status.
define ctest
echo "ctest --preset $(1)"; status=0; ctest --preset $(1) || status=$$?; \
awk '/^[0-9]+\/[0-9]+ Test: /{name=$$3} /^skipped: /{print "skipped " name ": " substr($$0, 10)}' \
  $(2)/Testing/Temporary/LastTest.log; exit $$status
endef

build:
	$(call build_tree,default)

run:
	./scripts/setup.sh run
	$(MAKE) build
	./$(BUILD)/vesk

# Every test CI runs, in its order: the list is .ci/run.
check:
	./.ci/run

# Every test of the desktop build but the slower robustness label (see
# test-robust) and the Wine-driven ones (see test-windows).
test:
	./scripts/setup.sh test
	$(MAKE) build
	@$(call ctest,default,$(BUILD))

# The real program's failure paths, soaks of X input and a valgrind session (label robust).
test-robust:
	./scripts/setup.sh robust
	$(MAKE) build
	@$(call ctest,robust,$(BUILD))

# Unit tests, the long world runs, and a scripted session of the real program
# under Xvfb, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	$(call build_tree,sanitize,test)
	@$(call ctest,sanitize,$(call tree,sanitize))

# libFuzzer targets built with clang (and both sanitizers), FUZZ_SECONDS each.
fuzz:
	$(call build_tree,fuzz,fuzz)
	./fuzz/run.sh $(FUZZ_SECONDS)

# The Debian package from build to removal on this machine (as root or through sudo).
test-package:
	./scripts/setup.sh package
	./tests/package/install_test.sh

# The README's commands in a fresh root of DEBIAN_SUITE (trixie: Debian 13) made
# with mmdebstrap from Debian's packages, then this machine's package played
# there (tests/fresh_root.sh; as root). Nothing is kept.
DEBIAN_SUITE ?= trixie
test-fresh:
	./scripts/setup.sh roots
	$(MAKE) package
	$$([ "$$(id -u)" -eq 0 ] || echo sudo) ./tests/fresh_root.sh $(DEBIAN_SUITE)

install:
	./scripts/setup.sh run
	$(MAKE) build
	{ find "$(DESTDIR)$(PREFIX)" -type d 2>/dev/null || true; } | sort > $(BUILD)/folders_before.txt
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)" --strip
	{ sed 's|^|$(DESTDIR)|' $(BUILD)/install_manifest.txt; echo; \
	  find "$(DESTDIR)$(PREFIX)" -type d | sort | comm -13 $(BUILD)/folders_before.txt - | sort -r; \
	} | grep -v '^$$' > $(INSTALLED)
	rm -f $(BUILD)/folders_before.txt

# Removes the files the last `make install` put in place, then the folders it
# made, if they are empty.
uninstall:
	@test -f $(INSTALLED) || { echo "uninstall: no $(INSTALLED): nothing installed from $(BUILD)" >&2; exit 1; }
	while IFS= read -r path || [ -n "$$path" ]; do \
	  if [ -d "$$path" ]; then rmdir "$$path" 2>/dev/null || true; else rm -f "$$path"; fi; \
	done < $(INSTALLED)
	rm -f $(INSTALLED)

package:
	./scripts/setup.sh package
	$(MAKE) build
	rm -f $(BUILD)/vesk_*.deb
	cpack --preset deb

# The release: the Debian packages (amd64, arm64), the page as a zip, the source tarball of
# the committed tree, the Windows installer and zip, and SHA256SUMS, into
# $(DIST)/; the version is CMake's project version. The same commit gives the
# same bytes (see docs/releasing.md): every time stamp is SOURCE_DATE_EPOCH
# (the commit's time unless set), and the builds run with one umask, time zone
# and locale whatever the caller's. SIGNING_KEY (a gpg key id) signs
# SHA256SUMS into SHA256SUMS.asc; WINDOWS_SIGNING_CERT and WINDOWS_SIGNING_KEY
# (PEM files) sign vesk.exe and the installer with Authenticode, time-stamped
# by WINDOWS_TIMESTAMP_URL (an RFC 3161 server) when it is given.
DIST ?= dist
SIGNING_KEY ?=
WINDOWS_SIGNING_CERT ?=
WINDOWS_SIGNING_KEY ?=
WINDOWS_TIMESTAMP_URL ?=
RELEASE_ENV = umask 022 && SOURCE_DATE_EPOCH=$${SOURCE_DATE_EPOCH:-$$(git log -1 --format=%ct)} \
  TZ=UTC LC_ALL=C LANG=C LANGUAGE=
# Where test-release clones, builds and signs (the next version in next/).
RELEASE_TEST ?= $(CURDIR)/build-release-test

release:
	@git diff --quiet HEAD -- || { echo "release: the tree has uncommitted changes;" \
	  "commit them first, the source tarball holds only the committed tree" >&2; exit 1; }
	$(RELEASE_ENV) $(MAKE) package
	$(RELEASE_ENV) $(MAKE) web
	$(RELEASE_ENV) $(MAKE) windows
	$(RELEASE_ENV) $(MAKE) arm64
	@version=$$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' $(BUILD)/CMakeCache.txt); \
	$(RELEASE_ENV) SIGNING_KEY="$(SIGNING_KEY)" WINDOWS_SIGNING_CERT="$(WINDOWS_SIGNING_CERT)" \
	  WINDOWS_SIGNING_KEY="$(WINDOWS_SIGNING_KEY)" WINDOWS_TIMESTAMP_URL="$(WINDOWS_TIMESTAMP_URL)" \
	  ./packaging/release.sh "$$version" $(DIST) . \
	  $(BUILD)/vesk_$${version}_*.deb $(WEB_BUILD) $(WINDOWS_BUILD) \
	  $(ARM64_BUILD)/vesk_$${version}_arm64.deb
	cd $(DIST) && sha256sum --quiet -c SHA256SUMS
	@echo "release: $(DIST)/SHA256SUMS matches every artifact"

# Two releases of HEAD in fresh clones that differ in path, time, umask, time
# zone and locale must be byte-identical; a signed one must verify and a
# changed artifact must not; the next version's package and installer must
# upgrade this one's cleanly (as root: it installs the package).
test-release:
	./scripts/setup.sh release
	./tests/package/check_release.sh reproducible $(RELEASE_TEST) $(JOBS)
	./tests/package/check_release.sh upgrade $(RELEASE_TEST) $(JOBS)

# In a browser: the same sources built to WebAssembly with Debian's
# Emscripten into $(WEB_BUILD)/ (docs/browser.md); the preset names the
# toolchain file and the NODE_PATH Debian's emcc needs.
WEB_PORT ?= 8080

web:
	$(call build_tree,web,web)

# Serves $(WEB_BUILD)/ on 127.0.0.1:$(WEB_PORT) until Ctrl-C.
serve: web
	node web/serve.mjs $(WEB_BUILD) $(WEB_PORT)

web/node_modules/.package-lock.json: web/package.json web/package-lock.json
	npm ci --prefix web --no-audit --no-fund

# The page in Chromium, Firefox and WebKit (web/browsers.mjs) against the desktop program
# in Xvfb: web/'s npm test; VESK_ENGINES=firefox,webkit picks some.
test-web: web web/node_modules/.package-lock.json
	./scripts/setup.sh browsers
	$(MAKE) build
	npm test --prefix web

# The world step's median time in the browser beside the native one, and the page's pace
# in each engine beside a bare 10 ms timer loop (reported, not judged).
bench-web: web web/node_modules/.package-lock.json
	./scripts/setup.sh browsers
	$(MAKE) build
	node web/bench.mjs

# On Windows: the same sources cross-built with mingw-w64 into $(WINDOWS_BUILD)/
# (docs/windows.md); its tests run under Wine in a private prefix there (the
# preset sets WINEPREFIX; WINDOWS_ENV is for the commands run outside CTest).
WINDOWS_ENV = WINEPREFIX=$(CURDIR)/$(WINDOWS_BUILD)/wineprefix WINEDEBUG=-all

windows:
	$(call build_tree,windows,windows)
	rm -f $(WINDOWS_BUILD)/vesk-*-win64.exe $(WINDOWS_BUILD)/vesk-*-win64.zip
	cpack --preset windows

# The Windows build's own tests under Wine, then the Wine-driven tests of the
# Linux build (label windows), which find vesk.exe in $(WINDOWS_BUILD)/.
test-windows: windows
	@$(call ctest,windows,$(WINDOWS_BUILD))
	$(MAKE) build
	@$(call ctest,wine,$(BUILD))

# The world step's median time in vesk_step_bench.exe under Wine beside the
# native helper's, turn about, BENCH_WINDOWS_RUNS each (reported, not judged).
BENCH_WINDOWS_RUNS ?= 3
bench-windows: windows
	$(MAKE) build
	for i in $$(seq $(BENCH_WINDOWS_RUNS)); do \
	  SDL_VIDEODRIVER=dummy ./$(BUILD)/vesk_step_bench | grep '^step-timing'; \
	  $(WINDOWS_ENV) SDL_VIDEODRIVER=dummy ./tests/windows/wine_run.py $(WINDOWS_BUILD)/vesk_step_bench.exe \
	    | tr -d '\r' | grep '^step-timing'; \
	done

# On ARM Linux (Raspberry Pi OS 64-bit, ARM Chromebooks): the same sources
# cross-built with g++-aarch64-linux-gnu against a sysroot of Debian 12's
# arm64 packages into $(ARM64_BUILD)/, with the package vesk_VERSION_arm64.deb
# (docs/arm64.md). Configuring makes the sysroot there (made anew once
# `make clean` removed it); ARM64_SYSROOT names another folder for it, which
# test-release's builds share.
ARM64_SYSROOT ?=

arm64:
	$(call build_tree,arm64,arm64,$(if $(ARM64_SYSROOT),-DVESK_SYSROOT=$(abspath $(ARM64_SYSROOT))))
	rm -f $(ARM64_BUILD)/vesk_*.deb
	cpack --preset arm64

# The arm64 build's tests under qemu-aarch64 in a Debian 12 and a Debian 13
# root (made in $(ARM64_BUILD)/roots/): the unit tests, and the end-to-end
# checks against this machine's program; then its package against this
# machine's (make package).
test-arm64: arm64
	$(MAKE) package
	@$(call ctest,arm64,$(ARM64_BUILD))

# Benchmarks of a Release build on the dummy video driver, repetitions
# interleaved at random, medians reported, then the step over the floor;
# then the program's peak resident memory on X11 under a private Xvfb, and
# the frame pace and present there with the window at scales 1, 2 and 3 on
# both runtimes beside today's window, BENCH_SCALE_ROUNDS turns of runs.
BENCH_SCALE_ROUNDS ?= 3
bench:
	$(call build_tree,bench,bench)
	SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ./$(BENCH_BUILD)/bench/vesk_bench \
	  --benchmark_repetitions=$(BENCH_REPETITIONS) --benchmark_report_aggregates_only=true \
	  --benchmark_enable_random_interleaving=true
	./scripts/peak_rss.sh $(BENCH_BUILD)
	python3 tests/xharness.py scale-pace --vesk $(BENCH_BUILD)/vesk \
	  --bench $(BENCH_BUILD)/bench/vesk_bench_window --today $(BENCH_BUILD)/bench/vesk_bench_unscaled \
	  --rounds $(BENCH_SCALE_ROUNDS)

# Instructions of each phase under callgrind (after make bench has built).
bench-count:
	./scripts/count_instructions.sh $(BENCH_BUILD)

# Every C++ file git knows, wherever the layout puts it.
format:
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -i

clean:
	rm -rf $(foreach preset,default sanitize fuzz bench web windows arm64,$(call tree,$(preset))) \
	  $(DIST) $(RELEASE_TEST)
