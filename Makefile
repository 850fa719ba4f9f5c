# The newcomer's entry. `make demo` installs what is missing, builds the
# videoconf program and runs a 10-second call between two processes.
# `make test` installs what is missing, configures, builds and runs every
# test; `make test-asan` does the same under AddressSanitizer and
# UndefinedBehaviorSanitizer (with short fuzz runs); `make test-tsan` runs the
# threaded tests (capture, peer network, manager, host program) under
# ThreadSanitizer.
JOBS ?= $(shell nproc)

.PHONY: all deps build demo test build-asan test-asan build-tsan test-tsan build-bench bench fuzz clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

# Only what the call needs is built, so the first run is quick.
demo: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target videoconf_app
	build/default/bin/videoconf call --seconds 10 --out build/demo
	@echo "demo: snapshots, debug logs and the summary are in build/demo/"

test: build
	ctest --preset default

build-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

# The preset turns off the sanitizers' tracking of dynamically loaded TLS
# (intercept_tls_get_addr=0): with this clang's LeakSanitizer and this glibc,
# the exit-time leak check of a program that dlopens the module and GStreamer's
# plugins can crash scanning a stale block ("Tracer caught signal 11"),
# depending on nothing more than the length of the environment. Heap leaks are
# still found.
test-asan: build-asan
	ctest --preset asan

build-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)

test-tsan: build-tsan
	ctest --preset tsan

build-bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

bench: build-bench
	scripts/run-benchmarks.sh build/release

clean:
	rm -rf build
