# Quick start:  make run   (benchmark, task 1M, every thread count)
#               make test  (builds everything and runs every test)
# Every target installs what it needs (tools/setup-debian.sh) and rebuilds
# what changed before it runs anything.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

# The configurations make test builds and tests, in the order it builds them:
# each one's tests run beside the next one's build. Adding a configuration is
# adding its preset here. Wine, MinGW and the ARM cross compiler are amd64
# packages: on another machine (an ARM server or board) make test builds and
# tests the native configurations alone.
ARCH := $(shell dpkg --print-architecture 2>/dev/null || echo amd64)
PRESETS := windows-x86 windows-x64 native tsan asan linux-arm64
ALL_PRESETS := $(PRESETS)
ifneq ($(ARCH),amd64)
PRESETS := native tsan asan
NOT_AMD64 := make test on $(ARCH) builds and tests native, tsan and asan; the Windows builds and the ARM cross build need an amd64 machine
endif
# A check of its own, not in make test: the big-endian build under qemu-s390x
# (make test-linux-s390x).
CHECKS := linux-s390x
BUILDS := $(addprefix build-,$(ALL_PRESETS) $(CHECKS) debug)
TESTS := $(addprefix test-,$(ALL_PRESETS) $(CHECKS) debug)
XVFB := xvfb-run -a -s "-screen 0 1280x1024x24"

# A configuration's suite is run once more under this command: the native
# one on one processor, as a small VM or a CI container has (its golden
# outputs run on another machine's identity in both runs).
again-native := tests/support/one_processor.sh

.PHONY: all setup setup-run setup-native setup-fleet setup-windows setup-packaging setup-arm64 setup-s390x run fleet test test-all native windows dist dist-check deb gui screenshot bench clean $(BUILDS) $(TESTS)

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
setup-arm64 setup-s390x: setup-%:
	@bash tools/setup-debian.sh $*

# Each preset's set-up group: Windows presets need the cross compilers and
# Wine, linux-ARCH the cross compiler for ARCH and qemu.
setup-for = $(if $(findstring windows,$(1)),setup-windows,$(if $(findstring linux-,$(1)),setup-$(subst linux-,,$(1)),setup-native))

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
	@$(if $(again-$*),echo "== $* again under $(again-$*) ==" && $(call timed,$* tested again) $(again-$*) ctest --preset $* -j $(JOBS))

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
# The Debian packages alone, without the Windows builds (no MinGW, no Wine).
deb: setup-packaging setup-arm64
	@JOBS=$(JOBS) bash tools/dist.sh --deb

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
# native Release, ThreadSanitizer, AddressSanitizer + UBSan and the arm64
# build under qemu-aarch64. The builds run one after the other on every
# core; each configuration's tests run beside the next build, which yields
# to them (the Wine tests mostly wait for windows, and a build fills the
# idle cores). Each step's output is shown whole when it ends.
test: setup
	$(if $(filter-out amd64,$(ARCH)),@echo "$(NOT_AMD64)")
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
