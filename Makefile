# kovra-radio: every target installs what it needs first (scripts/install-deps is idempotent).
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
BUILD_TYPE ?= RelWithDebInfo
PREFIX ?= /usr/local
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test test-desktops unit integration faults soak sanitize sanitize-ci fuzz test-trixie bench install package format format-check lint clean

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
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -LE 'unit|desktops' -j2
	@scripts/test-ratios

# The tray under the real desktop shells (sway + waybar, GNOME Shell, Xfce), headless; their packages
# (some 2.5 minutes to install) would push a fresh machine's `make test` past 15 minutes.
test-desktops: build
	@scripts/install-deps --desktops
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -L desktops -j2

unit: build
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -L unit -j2

integration: build
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -L integration

faults: build
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -L faults

# A seeded chaos soak of the real binary: random listener actions and server faults, the listener's
# expectations checked after every step. SOAK_SEED replays a run; SOAK_SEGMENT sets segment seconds.
SOAK_MINUTES ?= 30
soak: build
	@/usr/bin/python3 tests/soak/soak.py --bin $(BUILD)/kovra-radio --minutes $(SOAK_MINUTES) \
		$(if $(SOAK_SEED),--seed $(SOAK_SEED)) $(if $(SOAK_SEGMENT),--segment $(SOAK_SEGMENT))

# ASan + UBSan build; the unit and platform tests and most integration tests run on it. Reports of any instrumented
# process (the app runs detached inside the test sessions) land in $(SANITIZE_BUILD)/sanitizer-reports
# and fail the target. KOVRA_TEST_SLOW stretches the tests' waits for the slower binary.
SANITIZE_LABELS ?= unit|platform|integration
# The two longest integration scripts (several minutes under ASan) stay out unless asked for:
# `make sanitize SANITIZE_EXCLUDE=` runs everything.
SANITIZE_EXCLUDE ?= ^integration\.test_(playback|random)$$
# What is built and run (all of it by default); sanitize-ci narrows both.
SANITIZE_TARGETS ?=
SANITIZE_TESTS ?=
SANITIZE_REPORTS = $(abspath $(SANITIZE_BUILD))/sanitizer-reports
SANITIZE_ENV = KOVRA_TEST_SLOW=1 \
	ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:log_path=$(SANITIZE_REPORTS)/asan \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions=$(CURDIR)/tests/sanitize/ubsan.supp:log_path=$(SANITIZE_REPORTS)/ubsan

sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKOVRA_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) $(if $(SANITIZE_TARGETS),--target $(SANITIZE_TARGETS))
	@rm -rf $(SANITIZE_REPORTS) && mkdir -p $(SANITIZE_REPORTS)
	@status=0; cd $(SANITIZE_BUILD) && $(SANITIZE_ENV) \
		ctest --output-on-failure --no-tests=error -L '$(SANITIZE_LABELS)' $(if $(SANITIZE_EXCLUDE),-E '$(SANITIZE_EXCLUDE)') \
		$(if $(SANITIZE_TESTS),-R '$(SANITIZE_TESTS)') \
		|| status=$$?; \
	if ls $(SANITIZE_REPORTS)/* >/dev/null 2>&1; then \
		echo "sanitizer reports:"; tail -n +1 $(SANITIZE_REPORTS)/*; status=1; \
	fi; exit $$status

# The CI's share of it, to keep CI short: the app and the unit tests only, then every unit test and
# the scenarios that click through the menu (a rebuild from inside a menu action), the tray's life,
# and the media commands.
sanitize-ci: SANITIZE_TARGETS = kovra-radio unit_tests
sanitize-ci: SANITIZE_LABELS = unit|integration
sanitize-ci: SANITIZE_TESTS = ^([A-Z].*|integration\.test_(menu|tray_lifecycle|mpris))$$
sanitize-ci: sanitize

# libFuzzer (clang, with ASan and UBSan) on what others send the app: the relay's request heads, the
# update feed, the settings file, the portal's answers; each target FUZZ_SECONDS long from its seeds
# (tests/fuzz/corpus), what it learns kept in $(FUZZ_BUILD)/corpus. A finding fails the target and is
# left in $(FUZZ_BUILD)/findings: mend it and add it to the seeds as a regression case.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= relay_head appcast settings portal
fuzz:
	@scripts/install-deps --fuzz
	@cmake -S tests/fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(FUZZ_BUILD)
	@status=0; for t in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/findings; \
		dict=tests/fuzz/$$t.dict; [ -f $$dict ] && dict=-dict=$$dict || dict=; \
		if $(FUZZ_BUILD)/fuzz_$$t $(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus/$$t $$dict -max_total_time=$(FUZZ_SECONDS) \
			-print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/findings/$$t- >$(FUZZ_BUILD)/$$t.log 2>&1; then \
			echo "fuzz $$t: $$(grep -E '^#[0-9]+.*DONE' $(FUZZ_BUILD)/$$t.log | sed 's/ *DONE */ /')"; \
		else status=1; tail -n 60 $(FUZZ_BUILD)/$$t.log; echo "fuzz $$t: FOUND A FAULT (see $(FUZZ_BUILD)/findings)"; fi; \
	done; exit $$status

# The whole suite and `make run ONCE=1` again inside a Debian 13 root (debootstrap; needs root, cached
# in /var/cache/kovra-radio), for the newer Qt, mpv, GCC and FFmpeg.
test-trixie: deps
	@scripts/test-trixie

bench: build
	@/usr/bin/python3 bench/run.py --build $(BUILD)

install: build
	@DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

# The .deb lands in $(BUILD); lintian fails the target on any error or warning.
package: build
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@lintian --fail-on error,warning --display-info $(BUILD)/kovra-radio_*.deb
	@ls $(BUILD)/kovra-radio_*.deb

# Every C++ file in the tree follows .clang-format; format-check fails on any difference.
format: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# No include cycle (scripts/check-includes), then clang-tidy with the checks .clang-tidy keeps
# (platform/linux adds its naming rules); any finding fails. After a build: the moc files are read too.
lint: build
	@scripts/check-includes
	@git ls-files 'src/*.cpp' 'platform/*.cpp' | xargs -P2 -n4 clang-tidy -p $(BUILD) --quiet

clean:
	@rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
