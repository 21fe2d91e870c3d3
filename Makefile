# make run   installs what is missing, builds, starts the window
# make test  installs what is missing, builds, runs every test
# make demo  converts the sample grid and prints its image header (no display needed)
# make bench builds and runs the benchmarks; make fuzz runs each fuzz target for FUZZ_SECONDS
# make sanitize builds and tests with AddressSanitizer and UndefinedBehaviorSanitizer
# make lint     checks the layout (clang-format) and runs clang-tidy over the product code
# make install  installs under PREFIX (default /usr/local), below DESTDIR when given
# make package  builds the Debian package kavrimo_<version>_<arch>.deb in the build folder

BUILD ?= build
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local

.PHONY: deps configure build run test demo bench fuzz sanitize lint install package clean

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/kavrimo

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	scripts/demo.sh $(BUILD)/bin

bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target kavrimo-bench
	$(BUILD)/bin/kavrimo-bench

fuzz: deps
	bash scripts/fuzz.sh build-fuzz $(FUZZ_SECONDS)

sanitize: deps
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKAVRIMO_SANITIZE=ON -DKAVRIMO_BENCH=OFF >/dev/null
	@cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

lint: build
	scripts/lint.sh $(BUILD)

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The package's folders take their modes from the umask: 022 gives the 0755 Debian expects.
package: build
	cd $(BUILD) && umask 022 && cpack -G DEB

clean:
	rm -rf $(BUILD) build-asan build-fuzz
