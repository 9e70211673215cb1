# The two commands of the README: `make demo` and `make test`. Both set up
# what is missing first. `make install`, `make package` and
# `make package-windows` ship what was built.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
WINDOWS_BUILD ?= build-windows
TSAN_BUILD ?= build-tsan
CMAKE_FLAGS ?=
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all setup build build-sanitize build-tsan build-windows test test-fast test-sanitize \
  test-tsan test-windows demo bench-render bench-images clean fuzz install package package-windows \
  test-package

all: build

setup:
	@scripts/setup

build: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)

build-sanitize: setup
	@cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFOLIO_SANITIZE=ON \
	  $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_BUILD)

test-fast: build
	@ctest --test-dir $(BUILD) --output-on-failure -j2

test-sanitize: build-sanitize
	@ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j2

# The PDF job is the one with two threads: its tests run again under
# ThreadSanitizer, with only the programs they need built.
TSAN_TARGETS = folio render_units_test render_job_test faults_test
TSAN_TESTS = ^(RenderJob|PngEncoder|Faults[.](LostStandardOutput|OutputFolderMovedAway|FullDisks))
# One-page documents of every size teach it nothing about two threads;
# TheLargestPagesAreWrittenAlone keeps the largest page's way through the job.
TSAN_LEFT_OUT = PageSizesAndLimits
build-tsan: setup
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFOLIO_TSAN=ON \
	  $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(TSAN_BUILD) --target $(TSAN_TARGETS)

# A report ends the worker at once with exit code 66, which no test expects.
test-tsan: build-tsan
	@TSAN_OPTIONS="halt_on_error=1 exitcode=66" \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j2 -R '$(TSAN_TESTS)' \
	  -E '$(TSAN_LEFT_OUT)'

# The 32-bit Windows program, cross-built: folio.exe with pdfium.dll beside it.
build-windows: setup
	@scripts/setup --windows
	@cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DFOLIO_TESTS=OFF >/dev/null
	@cmake --build $(WINDOWS_BUILD)

# The end-to-end tests of the native build, run against folio.exe under Wine.
test-windows: build build-windows
	@scripts/test-windows $(BUILD) $(WINDOWS_BUILD)

# Every test, in the release build and again under the sanitizers; the PDF
# job's tests once more under ThreadSanitizer.
test: test-fast test-sanitize test-tsan

# bin/folio, its PDFium in lib/folio, the list-file tool and the licences
# under PREFIX (and DESTDIR, when staging).
install: build
	@DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX) --strip

# folio_<version>_amd64.deb, checked by lintian: its errors fail the build,
# its warnings are shown.
package: build
	@rm -f $(BUILD)/folio_*_amd64.deb
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@lintian --fail-on error $(BUILD)/folio_*_amd64.deb >$(BUILD)/lintian.log 2>&1; status=$$?; \
	  grep -v '^running with root privileges' $(BUILD)/lintian.log; exit $$status
	@ls $(BUILD)/folio_*_amd64.deb

# folio-<version>-win32.zip: folio.exe, pdfium.dll, the README and the licences.
package-windows: build-windows
	@rm -f $(WINDOWS_BUILD)/folio-*-win32.zip
	@cd $(WINDOWS_BUILD) && cpack -G ZIP >/dev/null
	@ls $(WINDOWS_BUILD)/folio-*-win32.zip

# Both packages as a user gets them (needs root: it installs the Debian
# package for real, then removes it).
test-package: package package-windows
	@tests/package/test-package $(BUILD)/folio_*_amd64.deb $(WINDOWS_BUILD)/folio-*-win32.zip \
	  $(WINDOWS_BUILD)/wine-prefix

demo: build
	@scripts/demo $(BUILD)/folio

bench-render: build
	@bench/render.sh $(BUILD)/folio

bench-images: build
	@bench/images.sh $(BUILD)/folio

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(WINDOWS_BUILD) demo-out

# Each fuzz target for FUZZ_SECONDS (default 60).
fuzz: setup
	@scripts/fuzz
