# Thin wrapper over CMake: build (the default), deps, run, test, install, package, bench, and the checks CI
# runs beyond the suite. Only deps, and the targets that name it (run, test, the checks), call apt-get;
# build, install and package never do, so a packaging tool can call them on a prepared machine.
SHELL := /bin/bash
# librsvg2-bin renders the icon's PNGs at build time; man-db, desktop-file-utils, appstream and
# bash-completion check the installed files in the suite.
DEPS := cmake ninja-build g++ pkg-config qt6-base-dev libcurl4-openssl-dev libsqlite3-dev libgtest-dev \
        libgmock-dev libbenchmark-dev xdg-utils fonts-ipafont-gothic nkf librsvg2-bin man-db desktop-file-utils \
        appstream bash-completion
# `make package` needs dpkg-shlibdeps (dpkg-dev), which CPack runs with `file`.
PACKAGE_DEPS := dpkg-dev file
# The Windows cross build: MinGW-w64 with the posix thread model, Wine to run its programs, Xvfb for
# those that open a window; GoogleTest's sources (googletest) come with libgtest-dev. NSIS makes the
# installer; the icon is rendered with rsvg-convert (librsvg2-bin) and packed with icotool (icoutils); Wine
# finds the Japanese glyphs of the dialog's texts in IPA's gothic faces.
WINDOWS_DEPS := g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth googletest nsis librsvg2-bin icoutils \
                fonts-ipafont-gothic
# Only the checks need these: clang with libFuzzer's run-time (which clang-14 merely recommends) for
# `make fuzz`, and clang-format for `make format-check`.
CHECK_DEPS := clang libclang-rt-14-dev clang-format
# Only bench/e2e.sh needs these: the real corpus (Japanese man pages) and a converter to compare with.
BENCH_DEPS := manpages-ja nkf
# Only `make test-x11` needs these: an X server, a window manager, pointer and keyboard from the command line,
# and Xlib for the suite's drag source.
X11_DEPS := xvfb openbox xdotool libx11-dev
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS ?= $(shell nproc)
# CI builds treat every compiler warning as an error; a developer's build keeps warnings warnings.
WERROR := $(if $(filter true,$(CI)),ON,OFF)
FUZZ_TARGETS := cp932_fuzz detect_fuzz ini_fuzz utf8_fuzz version_block_fuzz
FUZZ_SECONDS ?= 30
# `make install PREFIX=/usr DESTDIR=/tmp/stage` installs below /tmp/stage/usr.
PREFIX ?= /usr/local
DESTDIR ?=
# Every C++ file of ours; the generated code page 932 tables keep the generator's layout.
FORMAT_FILES = $(shell find src tests bench fuzz tools -name '*.h' -o -name '*.cpp' | \
                 grep -v '^src/encoding/cp932_tables.inc$$' | sort)

.PHONY: build deps check-deps bench-deps package-deps run test test-x11 install package test-asan fuzz format \
        format-check bench bench-e2e clean windows-deps windows test-windows package-windows

# The default target.
build:
	$(build_default)

# Installs only what is missing, so a prepared machine does not touch the network.
define install_missing
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi
endef

define build_default
	cmake --preset default -DOCELO_WERROR=$(WERROR)
	cmake --build --preset default -j $(JOBS)
endef

deps:
	$(call install_missing,$(DEPS) $(X11_DEPS))

check-deps:
	$(call install_missing,$(CHECK_DEPS))

bench-deps:
	$(call install_missing,$(BENCH_DEPS))

package-deps:
	$(call install_missing,$(PACKAGE_DEPS))

run: deps
	$(build_default)
	@if [ -x build/default/ocelo ]; then build/default/ocelo; else \
	  echo "The dialog is not built yet; the terminal program is: build/default/ocelo-cli --help"; \
	  [ -x build/default/ocelo-cli ] && build/default/ocelo-cli --help || true; fi

# The suite runs four tests at a time on two cores, each test twice: a test that needs a quiet machine fails here.
test: deps
	$(build_default)
	ctest --preset default

# The dialog on a real X server (Xvfb and openbox) with real drops, twice as the suite runs each test twice;
# screenshots land in build/x11-screenshots.
test-x11: deps
	$(build_default)
	tests/x11/run.sh build/default
	tests/x11/run.sh build/default

install: build
	DESTDIR="$(DESTDIR)" cmake --install build/default --prefix "$(PREFIX)"

# build/default/ocelo_<version>_<arch>.deb, its dependencies found by dpkg-shlibdeps.
package: build
	cd build/default && cpack -G DEB

test-asan: deps
	cmake --preset asan-ubsan -DOCELO_WERROR=$(WERROR)
	cmake --build --preset asan-ubsan -j $(JOBS)
	ctest --preset asan-ubsan

# Each libFuzzer target for FUZZ_SECONDS; a crash, a leak or a sanitizer report fails the run and leaves the
# input in build/fuzz/crashes/.
fuzz: deps check-deps
	cmake --preset fuzz -DOCELO_WERROR=$(WERROR)
	cmake --build --preset fuzz -j $(JOBS)
	@mkdir -p build/fuzz/crashes
	@for target in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/corpus/$$target; \
	  echo "== $$target, $(FUZZ_SECONDS) s"; \
	  if ! build/fuzz/$$target -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build/fuzz/crashes/$$target- \
	       build/fuzz/corpus/$$target > build/fuzz/$$target.log 2>&1; then \
	    tail -n 60 build/fuzz/$$target.log; echo "$$target failed; its input is in build/fuzz/crashes/"; exit 1; \
	  fi; \
	  grep -E '^Done [0-9]+ runs' build/fuzz/$$target.log; \
	done

# The house layout (.clang-format): `format` rewrites the files, `format-check` lists what it would change.
format: check-deps
	@echo "clang-format -i: $(words $(FORMAT_FILES)) files"
	@clang-format -i $(FORMAT_FILES)

format-check: check-deps
	@echo "clang-format --dry-run -Werror: $(words $(FORMAT_FILES)) files"
	@clang-format --dry-run -Werror $(FORMAT_FILES)

bench: deps
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	@echo "== kernels, each result in fresh memory (what one conversion pays)"
	build/bench/ocelo_bench --benchmark_min_time=0.5
	@echo "== the same with freed memory reused by the allocator (steady state, no page faults)"
	GLIBC_TUNABLES=glibc.malloc.mmap_threshold=4294967295:glibc.malloc.trim_threshold=1099511627775 \
	  build/bench/ocelo_bench --benchmark_min_time=0.5 --benchmark_filter='Decode|Encode|Detect'

bench-e2e: deps bench-deps
	$(build_default)
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	bench/e2e.sh

windows-deps:
	$(call install_missing,$(WINDOWS_DEPS))

# ocelo-cli.exe and the test program, cross-built into build/windows (docs/windows.md).
windows: windows-deps
	cmake --preset windows -DOCELO_WERROR=$(WERROR)
	cmake --build --preset windows -j $(JOBS)

# The suite's .exe under Wine, in a Wine prefix made afresh for the run. The dialog's tests need windows: the
# run gets an X server of its own (xvfb-run), and Wine draws its windows on a virtual desktop of its own
# (no window manager, whose answers Wine would wait for at every hide and close).
WINE_PREFIX := $(CURDIR)/build/windows/wineprefix
WINE_ENV := WINEPREFIX=$(WINE_PREFIX) WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
test-windows: windows deps
	rm -rf $(WINE_PREFIX)
	env -u DISPLAY $(WINE_ENV) wine wineboot --init
	env -u DISPLAY $(WINE_ENV) wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
	env -u DISPLAY $(WINE_ENV) wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f
	# The prefix's first server ran without a display, and so would its desktop: it must end before the tests.
	WINEPREFIX=$(WINE_PREFIX) wineserver -w
	WINEPREFIX=$(WINE_PREFIX) OCELO_WINE_DISPLAY=1 xvfb-run -a ctest --preset windows
	-WINEPREFIX=$(WINE_PREFIX) wineserver -k
	# ocelo-cli.exe must write the Linux program's bytes: both convert one corpus, every target.
	cmake --preset default -DOCELO_WERROR=$(WERROR)
	cmake --build --preset default -j $(JOBS) --target ocelo-cli
	WINEPREFIX=$(WINE_PREFIX) tests/windows/compare_with_linux.sh build/default/ocelo-cli build/windows/ocelo-cli.exe

# What a Windows user downloads (docs/windows.md): build/windows/ocelo-windows-VERSION.zip and the NSIS
# installer ocelo-windows-VERSION-setup.exe, both made by CPack, then checked under Wine (installed,
# run, installed again, uninstalled) by packaging/windows/check-packages.sh.
WINDOWS_PACKAGE = ocelo-windows-$(shell grep -o 'project.Ocelo VERSION [0-9.]*' CMakeLists.txt | cut -d' ' -f3)
package-windows: windows
	rm -f build/windows/$(WINDOWS_PACKAGE).zip build/windows/$(WINDOWS_PACKAGE)-setup.exe
	cd build/windows && cpack -G "ZIP;NSIS"
	packaging/windows/check-packages.sh build/windows $(WINDOWS_PACKAGE)

clean:
	rm -rf build
