# Quick start:  make run   (benchmark, task 1M, every thread count)
#               make test  (builds everything and runs every test)
# Every target installs what it needs (tools/setup-debian.sh) and rebuilds
# what changed before it runs anything.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

# The configurations make test builds and tests, in the order it builds them:
# each one's tests run beside the next one's build, so the last should be
# quick to test. Adding a configuration is adding its preset here.
PRESETS := windows-x86 windows-x64 native tsan asan
BUILDS := $(addprefix build-,$(PRESETS) debug)
TESTS := $(addprefix test-,$(PRESETS) debug)
XVFB := xvfb-run -a -s "-screen 0 1280x1024x24"

# A configuration's suite is run once more under this command: the native
# one on one processor, as a small VM or a CI container has (its golden
# outputs run on another machine's identity in both runs).
again-native := tests/support/one_processor.sh

.PHONY: all setup setup-run setup-native setup-fleet setup-windows setup-packaging run fleet test test-all native windows dist dist-check gui screenshot bench clean $(BUILDS) $(TESTS)

all: native

# The set-up groups (tools/setup-debian.sh): make run needs the runner's
# alone; Open MPI comes with make fleet and make test, the tests' tools (a
# Slurm among them) with make test.
setup:
	@bash tools/setup-debian.sh
setup-run:
	@bash tools/setup-debian.sh native
setup-native:
	@bash tools/setup-debian.sh native cluster charts tests
setup-fleet:
	@bash tools/setup-debian.sh native cluster
setup-windows:
	@bash tools/setup-debian.sh windows
setup-packaging:
	@bash tools/setup-debian.sh native cluster packaging

# Each preset's set-up group: Windows presets need the cross compilers and Wine.
setup-for = $(if $(findstring windows,$(1)),setup-windows,setup-native)

# Each build and test step says how long it took: its wall time and the CPU
# time of its processes.
timed = TIMEFORMAT="== $(1): %R s (CPU %U s user, %S s system) =="; time

.SECONDEXPANSION:
$(BUILDS): build-%: $$(call setup-for,%)
	@cmake --preset $* >/dev/null
	@$(call timed,$* built) $(BUILD_PRIORITY) cmake --build --preset $* -j $(JOBS)

# Windows tests run under Wine in a virtual X server, with the build's own
# Wine prefix; its server is stopped afterwards so that nothing lingers.
$(TESTS): test-%: build-%
	@echo "== $* =="
	@$(call timed,$* tested) $(if $(findstring windows,$*),$(XVFB)) ctest --preset $* -j $(JOBS)
	@$(if $(findstring windows,$*),WINEPREFIX=$(CURDIR)/build/$*/wineprefix wineserver -k 2>/dev/null || true)
	@$(if $(again-$*),echo "== $*, again: $(again-$*) ==" && $(call timed,$* tested again) $(again-$*) ctest --preset $* -j $(JOBS))

native: build-native

windows: build-windows-x86 build-windows-x64
	@echo "Windows program, 32-bit: build/windows-x86/app/Vantrel.exe"
	@echo "Windows program, 64-bit: build/windows-x64/app/Vantrel.exe"

# The release packages: dist/Vantrel-VERSION-windows.zip with both programs
# and both runners, and the Debian packages vantrel and vantrel-mpi.
# dist-check builds them again elsewhere and checks that the packages come
# out the same, byte for byte, and what they hold; lintian checks the Debian
# packages, which are then installed, used and removed again (as root, or
# with sudo).
dist: setup-windows setup-packaging
	@JOBS=$(JOBS) bash tools/dist.sh
dist-check: setup-windows setup-packaging
	@JOBS=$(JOBS) bash tools/dist.sh --check

# Builds the runner alone, the quickest way to a first result.
run: setup-run
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j $(JOBS) --target vantrel-cli
	@build/native/cli/vantrel-cli --sweep

# The fleet runner, with Open MPI.
fleet: setup-fleet
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j $(JOBS) --target vantrel-mpi
	@echo "Fleet runner: build/native/mpi/vantrel-mpi"

# Every configuration: the 32-bit and 64-bit Windows builds under Wine,
# native Release, ThreadSanitizer and AddressSanitizer + UBSan. The builds
# run one after the other on every core; each configuration's tests run
# beside the next build, which yields to them (the Wine tests mostly wait
# for windows, and a build fills the idle cores). Each step's output is
# shown whole when it ends.
test: setup
	@$(MAKE) --no-print-directory -j 2 --output-sync=target PIPELINE=1 test-all
	@echo "== all test configurations passed =="

test-all: $(addprefix test-,$(PRESETS))

ifdef PIPELINE
BUILD_PRIORITY := nice -n 10
# Each build waits for the one before it in PRESETS.
build-order = $(if $(word 2,$(1)),$(eval build-$(word 2,$(1)): | build-$(word 1,$(1)))$(call build-order,$(wordlist 2,$(words $(1)),$(1))))
$(call build-order,$(PRESETS))
endif

gui: build-windows-x86
	@bash tools/run-gui.sh build/windows-x86/app/Vantrel.exe

screenshot: build-windows-x86
	@bash tools/screenshot.sh build/windows-x86/app/Vantrel.exe docs/screenshot.png

bench: build-native
	@build/native/bench/engine_bench
	@build/native/bench/export_bench
	@build/native/bench/store_bench
	@build/native/bench/verify_bench

clean:
	rm -rf build dist
