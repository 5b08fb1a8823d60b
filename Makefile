# Quick start:  make run   (benchmark, task 1M, every thread count)
#               make test  (builds everything and runs every test)
SHELL := /bin/bash
JOBS ?= $(shell nproc)
PRESETS := native tsan asan windows-x86

.PHONY: all setup run test test-native test-windows native windows gui screenshot bench clean $(addprefix build-,$(PRESETS) debug) $(addprefix test-,$(PRESETS) debug)

all: native

setup:
	@bash tools/setup-debian.sh

build-%: setup
	@cmake --preset $* >/dev/null
	@cmake --build --preset $* -j $(JOBS)

test-%: build-%
	@ctest --preset $* -j $(JOBS)

native: build-native

windows: build-windows-x86
	@echo "Windows program: build/windows-x86/app/Vantrel.exe"

run: build-native
	@build/native/cli/vantrel-cli --sweep

# Every configuration in turn: native Release, ThreadSanitizer,
# AddressSanitizer + UBSan, and the 32-bit Windows build under Wine.
test: setup
	@set -e; for p in $(PRESETS); do \
	  echo "== $$p =="; \
	  cmake --preset $$p >/dev/null; \
	  cmake --build --preset $$p -j $(JOBS); \
	  if [ $$p = windows-x86 ]; then \
	    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset $$p -j $(JOBS); \
	    WINEPREFIX=$(CURDIR)/build/windows-x86/wineprefix wineserver -k 2>/dev/null || true; \
	  else \
	    ctest --preset $$p -j $(JOBS); \
	  fi; \
	done
	@echo "== all test configurations passed =="

gui: build-windows-x86
	@bash tools/run-gui.sh build/windows-x86/app/Vantrel.exe

screenshot: build-windows-x86
	@bash tools/screenshot.sh build/windows-x86/app/Vantrel.exe docs/screenshot.png

bench: build-native
	@build/native/bench/engine_bench
	@if [ -x build/native/bench/export_bench ]; then build/native/bench/export_bench; fi

clean:
	rm -rf build
