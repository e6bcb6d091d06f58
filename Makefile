# Velto: `make run` and `make test` do all set-up on a fresh Debian machine.
SHELL := /bin/bash
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

# Debian packages the project needs to build, test and run.
DEPS := build-essential cmake pkg-config libgtest-dev libgmock-dev libpam0g-dev libssl-dev \
        python3 curl lftp tnftp wget procps strace openssl \
        qt6-base-dev libqt6svg6 libgl-dev xvfb trayer xdotool imagemagick \
        dpkg-dev pandoc

# What the fuzzers add: clang and its runtime, which holds libFuzzer.
FUZZ_DEPS := clang libclang-rt-dev
FUZZ_DIR ?= build-fuzz
# `make fuzz-run FUZZER=ini FUZZ_SECONDS=300`: one fuzzer in one process.
FUZZER ?= command_line
FUZZ_SECONDS ?= 240

# CI treats warnings as errors.
WERROR := $(if $(CI),ON,OFF)

.PHONY: all deps fuzz-deps build build-program build-test test-clients test fuzz fuzz-run run screenshots bench package package-check clean

all: build

deps: PACKAGES = $(DEPS)
fuzz-deps: PACKAGES = $(FUZZ_DEPS)
deps fuzz-deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  $$SUDO apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi

# Optimised build of everything (the benchmarks use it).
RELEASE_CONFIGURE := cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DVELTO_SANITIZE=OFF -DVELTO_WERROR=$(WERROR)
build: deps
	$(RELEASE_CONFIGURE)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# What `make run` needs: only what bin/ holds, the program and the libraries
# it loads (the socket component, the windows; libvelto_platform.so comes
# with the program), none of the tests.
build-program: deps
	$(RELEASE_CONFIGURE)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target velto portwell velto_desktop

# Test build: the same tree with AddressSanitizer and UBSan, so the unit tests
# and the end-to-end runs of the real program are both checked.
build-test: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTO_SANITIZE=ON -DVELTO_WERROR=$(WERROR)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The Node.js FTP client the FTPS tests drive, from npm into the build folder
# (the machine's Node.js, or Debian's when there is none).
NODE_CLIENT := basic-ftp
NODE_CLIENT_VERSION := 6.2.6
test-clients: deps
	@grep -qs '"version": "$(NODE_CLIENT_VERSION)"' $(BUILD_DIR)/node/node_modules/$(NODE_CLIENT)/package.json || { \
	  SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  command -v npm >/dev/null || { $$SUDO apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends nodejs npm; }; \
	  mkdir -p $(BUILD_DIR)/node && \
	  npm install --prefix $(BUILD_DIR)/node --no-save --no-package-lock --no-audit --no-fund \
	    $(NODE_CLIENT)@$(NODE_CLIENT_VERSION); }

test: build-test test-clients
	cd $(BUILD_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure --timeout 600 -j $(JOBS)

# Coverage-guided fuzzers (clang, libFuzzer, ASan and UBSan) in their own build
# folder; each replays its seed corpus once. Not part of `make test`.
fuzz: deps fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVELTO_FUZZ=ON -DVELTO_SANITIZE=OFF -DVELTO_WERROR=$(WERROR)
	cmake --build $(FUZZ_DIR) --target velto_fuzzers -j $(JOBS)
	cd $(FUZZ_DIR) && ctest -L fuzz --output-on-failure

# New inputs go to a scratch corpus beside the build, so the committed seeds
# stay small; crashes land in $(FUZZ_DIR)/crashes/.
fuzz-run: fuzz
	mkdir -p $(FUZZ_DIR)/corpus/$(FUZZER) $(FUZZ_DIR)/crashes
	./$(FUZZ_DIR)/fuzz/fuzz_$(FUZZER) -max_total_time=$(FUZZ_SECONDS) -max_len=16384 \
	  -artifact_prefix=$(FUZZ_DIR)/crashes/$(FUZZER)- \
	  $(if $(wildcard tests/fuzz/$(FUZZER).dict),-dict=tests/fuzz/$(FUZZER).dict) \
	  $(FUZZ_DIR)/corpus/$(FUZZER) tests/fuzz/corpus/$(FUZZER)

# Runs from run/ on 127.0.0.1 port 2121 with a demo account (scripts/run.sh).
run: build-program
	scripts/run.sh $(BUILD_DIR)

# The README's window pictures, taken anew on a private X server and copied
# into docs/ (the test run itself writes only into the build folder).
screenshots: build-test
	cd $(BUILD_DIR) && ctest -R '^gui_screenshots$$' --output-on-failure
	cp $(BUILD_DIR)/screenshots/*.png docs/

# The Debian packages velto and velto-desktop, optimised, into
# $(BUILD_DIR)/packages/ (cmake/packaging.cmake); lintian checks them.
PACKAGE_TARGETS := velto portwell velto_desktop velto_man velto_package_docs
package: deps
	$(RELEASE_CONFIGURE)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target $(PACKAGE_TARGETS)
	rm -f $(BUILD_DIR)/packages/*.deb
	cd $(BUILD_DIR) && cpack -G DEB
	@if command -v lintian >/dev/null; then lintian --profile debian $(BUILD_DIR)/packages/*.deb; \
	  else echo "lintian not installed: packages not checked"; fi
	@ls -l $(BUILD_DIR)/packages/*.deb

# Installs, runs, upgrades and purges the package in a Debian 12 chroot
# (debootstrap, cached in $(BUILD_DIR)/chroot-cache); needs root. Not part
# of `make test`.
package-check: package
	packaging/check-in-chroot.sh $(BUILD_DIR)

bench: build
	python3 bench/ftp_bench.py --build-dir $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(FUZZ_DIR)
