# Thin wrapper over the CMake presets and the scripts.
#   make demo   run Scourix on a seeded demo
#   make smoke32  run the 32-bit program's demo under 32-bit Wine (slow)
#   make release  the zip a person downloads and the rescue package (build/release/)
#   make rescue-iso  the bootable Scourix Rescue USB image (build/release/, root)
#   make bench    the scan's speed against the floor, clamscan and yara
#   make test   install what is missing, build every preset, run every test
#   make test-usb  the rescue image's test alone: built and booted in qemu (long)
PRESETS := native win64 win32 fuzz
JOBS := $(shell nproc)
MAKEFLAGS += --no-print-directory
FUZZ_SECONDS ?= 30
BENCH_FILES ?= 10000 100000

.PHONY: all setup build test demo smoke32 release release-check rescue-iso test-usb bench fuzz clean $(addprefix build-,$(PRESETS))

all: build

setup:
	@scripts/setup.sh

build: setup $(addprefix build-,$(PRESETS))

$(addprefix build-,$(PRESETS)): build-%:
	cmake --preset $* > /dev/null
	cmake --build --preset $* -j $(JOBS)

test: build
	ctest --preset native
	ctest --preset win64 -j 2
	ctest --preset win32
	scripts/release.sh --twice
	scripts/fuzz.sh $(FUZZ_SECONDS)

# The rescue image built and booted in qemu alone (long: live-build and
# software emulation); make test runs it with the others.
test-usb: build-native
	ctest --preset native -L usb

fuzz: setup build-fuzz
	scripts/fuzz.sh $(FUZZ_SECONDS)

demo: setup
	@scripts/demo.sh

# The zip a person downloads and the rescue package; release-check builds them
# twice, compares them and checks the package.
release: setup
	@scripts/release.sh

release-check: setup
	@scripts/release.sh --twice

# The Scourix Rescue USB image, built by live-build (root) with the package
# as make release builds it.
rescue-iso: setup
	@scripts/rescue-iso.sh build/release

# Figures, not tests: run it on a quiet machine.
bench: setup
	@bench/run.py $(BENCH_FILES)

# Installs what it needs itself, 32-bit Wine included.
smoke32:
	@scripts/smoke32.sh

clean:
	rm -rf build
