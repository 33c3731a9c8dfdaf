# kovra-radio: every target installs what it needs first (scripts/install-deps is idempotent).
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
BUILD_TYPE ?= RelWithDebInfo
PREFIX ?= /usr/local
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test unit integration faults sanitize bench install package lint clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

# Plays the radio: in a desktop session, in your tray; without one, in a private virtual
# session with a local broadcaster, reporting what it sees and hears. ONCE=1 stops after the report.
run: build
	@scripts/run $(if $(ONCE),--once) --build $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -L unit -j2
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -LE unit

unit: build
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -L unit -j2

integration: build
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -L integration

faults: build
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -L faults

sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKOVRA_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD)
	@cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure --no-tests=error -L 'unit|integration'

bench: build
	@/usr/bin/python3 bench/run.py --build $(BUILD)

install: build
	@DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

package: build
	@cd $(BUILD) && cpack -G DEB

lint: configure
	@git ls-files 'src/*.cpp' 'platform/*.cpp' | xargs clang-tidy -p $(BUILD) --quiet

clean:
	@rm -rf $(BUILD) $(SANITIZE_BUILD)
