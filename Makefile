# The two commands a newcomer needs are `make run` and `make test`; each installs what is missing first.
BUILD      ?= build
TESTBUILD  ?= build/sanitize
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
JOBS       ?= $(shell nproc)

PREFIX     ?= /usr/local

.PHONY: run test bench format deps build build-test install package clean

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREESTR_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@mkdir -p demo
	@[ -f demo/Base.mdb ] || (cd demo && ../$(BUILD)/bin/reestr-db init --demo)
	@cd demo && ../$(BUILD)/bin/reestr

# The tests run against a build with AddressSanitizer and UndefinedBehaviorSanitizer.
build-test: deps
	@cmake -S . -B $(TESTBUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DREESTR_SANITIZE=ON \
	    -DREESTR_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(TESTBUILD) -j $(JOBS)

# The package test checks the .deb that `make package` builds from the release build.
test: build-test package
	@cd $(TESTBUILD) && REESTR_PACKAGE_DIR=$(abspath $(BUILD)) ctest --output-on-failure -j $(JOBS)

bench: build
	@bash scripts/run-benchmarks.sh $(BUILD)/bin

# A Debian package of the release build: $(BUILD)/reestr_<version>_amd64.deb.
package: build
	@cd $(BUILD) && cpack -G DEB >/dev/null && ls reestr_*_amd64.deb

install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

format: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
