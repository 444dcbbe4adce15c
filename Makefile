# make run    installs what the demo needs, builds the demo alone, starts it from data/
# make test   installs the rest, then four timed steps: a short libFuzzer run of
#             the frame walk (the fast target); every test on a Release build;
#             the unit tests and the tests that feed the programs hostile input
#             again under AddressSanitizer + UndefinedBehaviorSanitizer; the
#             WebAssembly build's unit tests under node and the page in headless
#             Chromium.
#             One line at the end.
# make bench  the benchmarks in about a minute, then a table of each figure
#             beside a baseline of the same run; BENCH=full for the long run
# make package  a Debian package and a tarball in build/package/ (then lintian)
# make install  installs into PREFIX (default /usr/local)
# make test-arm64  (not part of make test) cross-builds the library, the demo
#             and the unit tests for arm64 and runs them, and the demo, under qemu
# make web    the WebAssembly page in build/web; make web-serve serves it on
#             127.0.0.1:8000; make test-web runs its tests (a step of make test);
#             make bench-web measures it in headless Chromium
# make fuzz-walk  the frame walk's other fuzz target, the loader as the program
#             builds it, for FUZZ_SECONDS (make fuzz-walk FUZZ_SECONDS=600);
#             make fuzz-coverage the loader's lines and branches that the fast
#             target's corpus reaches
RELEASE := build/release
SANITIZE := build/sanitize
FUZZ := build/fuzz
FUZZ_COVERAGE := build/fuzz-coverage
ARM64 := build/arm64
FUZZ_SECONDS ?= 25
BENCH ?= quick
JOBS ?= $(shell nproc)
SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=0:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
DEPS := sh tools/install-deps.sh
# A default time limit for any test without one of its own.
CTEST := ctest --output-on-failure --timeout 900 -j $(JOBS)

.PHONY: all build build-demo build-tools build-tests build-bench build-sanitize build-fuzz build-dist build-arm64 \
	run test test-release test-sanitize test-fuzz fuzz-walk fuzz-coverage test-arm64 bench package install clean
.PHONY: web build-wasm web-serve test-web bench-web

all: build

# The Release build, configured with the parts named on top of what its cache holds.
configure-release = cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release $(1) >/dev/null

build-demo:
	@$(DEPS) demo
	@$(call configure-release)
	@cmake --build $(RELEASE) -j $(JOBS) --target velmorante

# Everything of the desktop build: the demo, the tools, the tests, the benchmarks.
build:
	@$(DEPS) test bench
	@$(call configure-release,-DVELMORANTE_TOOLS=ON -DVELMORANTE_TESTS=ON -DVELMORANTE_BENCH=ON)
	@cmake --build $(RELEASE) -j $(JOBS)

build-tools:
	@$(DEPS) tools
	@$(call configure-release,-DVELMORANTE_TOOLS=ON -DVELMORANTE_TESTS=AUTO -DVELMORANTE_BENCH=AUTO)
	@cmake --build $(RELEASE) -j $(JOBS) --target velmorante-capture makefont maketexture preview make_robotrk

build-tests:
	@$(DEPS) test
	@$(call configure-release,-DVELMORANTE_TOOLS=ON -DVELMORANTE_TESTS=ON -DVELMORANTE_BENCH=OFF)
	@cmake --build $(RELEASE) -j $(JOBS)

# The benchmark program alone; its compiler output only when the build fails.
build-bench:
	@$(DEPS) bench
	@$(call configure-release,-DVELMORANTE_BENCH=ON)
	@cmake --build $(RELEASE) -j $(JOBS) --target velmorante_bench >$(RELEASE)/bench-build.log 2>&1 \
		|| { cat $(RELEASE)/bench-build.log; exit 1; }

# Only what the tests under the sanitizers run.
build-sanitize:
	@$(DEPS) test
	@cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORANTE_SANITIZE=ON \
		-DVELMORANTE_TOOLS=ON -DVELMORANTE_TESTS=ON -DVELMORANTE_BENCH=OFF >/dev/null
	@cmake --build $(SANITIZE) -j $(JOBS) --target velmorante velmorante-capture velmorante_tests

build-fuzz:
	@$(DEPS) fuzz
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORANTE_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ) -j $(JOBS)

run: build-demo
	cd data && ../$(RELEASE)/velmorante

# ---- make test: four steps, each timed, then one line -------------------------------
# A step that fails stops make, with its own output in view. While the Release
# build's tests run (many of them wait on the programs they drive), the
# sanitizer build is made beside them, its output in a log shown only if it
# fails; test-sanitize then finds it built.
TEST_STEPS := test-fuzz test-release test-sanitize test-web
STEP_TIMES := build/test-steps.log
SANITIZE_LOG := build/sanitize-build.log
test:
	@$(DEPS) test fuzz web
	@mkdir -p build && rm -f $(STEP_TIMES)
	@for step in $(TEST_STEPS); do \
		start=$$(date +%s); \
		if [ $$step = test-release ]; then \
			$(MAKE) --no-print-directory build-tests || exit 1; \
			$(MAKE) --no-print-directory build-sanitize >$(SANITIZE_LOG) 2>&1 & beside=$$!; \
		fi; \
		$(MAKE) --no-print-directory $$step || { [ -z "$$beside" ] || kill $$beside; exit 1; }; \
		if [ -n "$$beside" ]; then \
			wait $$beside || { cat $(SANITIZE_LOG); exit 1; }; beside=; \
		fi; \
		echo "$$step $$(( $$(date +%s) - start ))" >> $(STEP_TIMES); \
		echo "== make $$step: $$(( $$(date +%s) - start )) s"; \
	done
	@sh tools/test-summary.sh $(STEP_TIMES) $(RELEASE) $(SANITIZE) $(WASM) $(FUZZ)

test-release: build-tests
	cd $(RELEASE) && $(CTEST) --output-log ctest.log

test-sanitize: build-sanitize
	cd $(SANITIZE) && $(SANITIZER_ENV) $(CTEST) -L 'unit|hostile' --output-log ctest.log

# Two libFuzzer targets walk any bytes as an animation file: fuzz_fli_fast, the
# loader built small (a 64 KiB store, hundreds of inputs a second), which
# test-fuzz runs; and fuzz_fli_walk, the loader as the program builds it (a few
# dozen a second), which fuzz-walk runs. Each for FUZZ_SECONDS, with a corpus
# folder of its own; seeds: the FLI test files, the fuzzers' own
# (tests/fuzz/seeds, made by tests/fuzz/make_seeds.py) and the head of
# robotrk.fli; stdout (the lines for unhandled chunk types) is closed. Any
# crash, sanitizer report or input slower than the timeout fails the run; then
# the fuzzer's whole output is shown, and the input that failed is kept in
# $(FUZZ)/artifacts. The fast target's inputs are up to the header and its store.
FAST_MAX_LEN := 65664
# $(call fuzz-run,TARGET,CORPUS,LOG,MAX_LEN)
define fuzz-run
	@mkdir -p $(2) $(FUZZ)/artifacts
	@head -c 65536 data/robotrk.fli > $(2)/robotrk-head.fli
	@echo "Fuzzing the frame walk ($(1)) for $(FUZZ_SECONDS) s"
	@$(SANITIZER_ENV) $(FUZZ)/tests/fuzz/$(1) -max_total_time=$(FUZZ_SECONDS) -timeout=20 \
		-max_len=$(4) -close_fd_mask=1 -print_final_stats=1 -artifact_prefix=$(FUZZ)/artifacts/ \
		$(2) tests/fuzz/seeds tests/data/fli >$(3) 2>&1 \
		|| { cat $(3); echo "The fuzzer found a failing input: see $(FUZZ)/artifacts/"; exit 1; }
endef

test-fuzz: build-fuzz
	$(call fuzz-run,fuzz_fli_fast,$(FUZZ)/corpus,$(FUZZ)/fuzz.log,$(FAST_MAX_LEN))

fuzz-walk: build-fuzz
	$(call fuzz-run,fuzz_fli_walk,$(FUZZ)/corpus-walk,$(FUZZ)/fuzz-walk.log,65536)

# The fast target again with clang's source-based coverage, in a tree of its
# own; every input of FUZZ_CORPUS (test-fuzz's unless named) and of the seeds
# run once, then a table of src/FLIplay.cpp function by function (the walk and
# the decoders; loading from a file, the noise and FLImainLoad are not the
# fuzzers' to reach).
FUZZ_CORPUS ?= $(FUZZ)/corpus
fuzz-coverage:
	@$(DEPS) coverage
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_COVERAGE) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORANTE_FUZZ=ON \
		-DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
		-DCMAKE_EXE_LINKER_FLAGS=-fprofile-instr-generate >/dev/null
	@cmake --build $(FUZZ_COVERAGE) -j $(JOBS) --target fuzz_fli_fast >/dev/null
	@mkdir -p $(FUZZ_CORPUS) && rm -f $(FUZZ_COVERAGE)/fast.profraw
	@LLVM_PROFILE_FILE=$(FUZZ_COVERAGE)/fast.profraw $(SANITIZER_ENV) $(FUZZ_COVERAGE)/tests/fuzz/fuzz_fli_fast \
		-runs=0 -close_fd_mask=1 -max_len=$(FAST_MAX_LEN) $(FUZZ_CORPUS) tests/fuzz/seeds tests/data/fli \
		>$(FUZZ_COVERAGE)/run.log 2>&1 || { cat $(FUZZ_COVERAGE)/run.log; exit 1; }
	@llvm-profdata-14 merge -o $(FUZZ_COVERAGE)/fast.profdata $(FUZZ_COVERAGE)/fast.profraw
	@llvm-cov-14 report -show-functions -Xdemangler c++filt $(FUZZ_COVERAGE)/tests/fuzz/fuzz_fli_fast \
		-instr-profile=$(FUZZ_COVERAGE)/fast.profdata src/FLIplay.cpp

# The tools and the benchmarks stay out: the unit tests are what show the
# arm64 build computes what the native one does.
build-arm64:
	@$(DEPS) arm64
	@cmake -S . -B $(ARM64) --toolchain cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
		-DVELMORANTE_TESTS=ON -DVELMORANTE_TOOLS=OFF -DVELMORANTE_BENCH=OFF >/dev/null
	@cmake --build $(ARM64) -j $(JOBS) --target velmorante velmorante_tests

test-arm64: build-arm64
	cd $(ARM64) && $(CTEST)

bench: build-bench
	@$(RELEASE)/bench/velmorante_bench $(if $(filter full,$(BENCH)),--full)

clean:
	rm -rf build

# The packages are built in a tree of their own with Debian's build flags
# (hardening on) and only what they hold: the demo and velmorante-capture.
DIST := build/dist
PACKAGES := build/package
PREFIX ?= /usr/local
DEB_FLAGS := DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get

build-dist:
	@$(DEPS) package
	@cmake -S . -B $(DIST) -DCMAKE_BUILD_TYPE=Release -DVELMORANTE_TOOLS=ON -DVELMORANTE_TESTS=OFF \
		-DVELMORANTE_BENCH=OFF -DCMAKE_C_FLAGS="$$($(DEB_FLAGS) CPPFLAGS) $$($(DEB_FLAGS) CFLAGS)" \
		-DCMAKE_CXX_FLAGS="$$($(DEB_FLAGS) CPPFLAGS) $$($(DEB_FLAGS) CXXFLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$$($(DEB_FLAGS) LDFLAGS)" >/dev/null
	@cmake --build $(DIST) -j $(JOBS)

# tools/test-deb.sh installs the .deb on this machine, runs it and removes it.
package: build-dist
	rm -rf $(PACKAGES)
	cd $(DIST) && cpack -B $(CURDIR)/$(PACKAGES)
	rm -rf $(PACKAGES)/_CPack_Packages
	lintian --fail-on error $(PACKAGES)/velmorante_*.deb

install: build-dist
	cmake --install $(DIST) --prefix $(PREFIX) --strip

# make data     makes data/fonts16.bin and data/tarnwhisk.bmp again with their tools
# make preview  draws the font, the texture, the rotozoomer and text into build/preview/*.png
FONT_TTF := /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
.PHONY: data preview

data: build-tools
	$(RELEASE)/tools/makefont $(FONT_TTF) data/fonts16.bin
	$(RELEASE)/tools/maketexture data/tarnwhisk.bmp

preview: build-tools
	mkdir -p build/preview
	$(RELEASE)/tools/preview data build/preview

# ---- The WebAssembly edition (Emscripten from Debian) ------------------------------
# emcc's JavaScript optimiser needs node to find acorn (node-acorn), and its
# tools want a python3 that is Debian's own. The system libraries come built in
# Debian's read-only cache (/usr/share/emscripten/cache); nothing is written there.
WASM := build/wasm
WEB := build/web
EMENV := NODE_PATH=/usr/share/nodejs EMSDK_PYTHON=/usr/bin/python3
configure-wasm = $(EMENV) emcmake cmake -S . -B $(WASM) -DCMAKE_BUILD_TYPE=Release \
	-DVELMORANTE_WEB_DIR=$(CURDIR)/$(WEB) -DVELMORANTE_DESKTOP_BUILD=$(CURDIR)/$(RELEASE) >/dev/null

web:
	@$(DEPS) web
	@$(configure-wasm)
	@$(EMENV) cmake --build $(WASM) -j $(JOBS) --target velmorante

build-wasm:
	@$(DEPS) web
	@$(configure-wasm)
	@$(EMENV) cmake --build $(WASM) -j $(JOBS)

web-serve: web
	python3 -m http.server 8000 --bind 127.0.0.1 --directory $(WEB)

# The core's unit tests under node, and the page in headless Chromium against
# the desktop build's capture tool and its dump of the sound loop.
test-web: build-tests build-wasm
	cd $(WASM) && $(CTEST) --output-log ctest.log --output-junit junit.xml

bench-web: build web
	/usr/bin/python3 bench/web_bench.py $(WEB) $(RELEASE)
