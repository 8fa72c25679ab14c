# The front door: `make` installs what is missing, configures and builds into build/;
# `make test` builds and runs every test; `make demo` runs one merge on a generated feed.
# SANITIZE=address (ASan + UBSan) or SANITIZE=thread builds into build-$(SANITIZE)/.
# WERROR=1 makes every compiler warning an error (CI); the build folder keeps the choice
# until WERROR=0 is given.
# `make windows` cross-builds the Windows programs into build-windows/ (mingw-w64, static);
# `make test-windows` runs their tests under Wine and compares both builds' runs.

SANITIZE ?=
WERROR   ?=
BUILD    := build$(if $(SANITIZE),-$(SANITIZE))
JOBS     ?= $(shell nproc)
RUNS     ?= 20
WERROR_CMAKE := $(if $(filter 1 ON on yes,$(WERROR)),ON,OFF)

PACKAGES := g++ make cmake qt6-base-dev libgl-dev libgtest-dev libgmock-dev \
            fonts-wqy-microhei clang libclang-rt-14-dev locales
# The cross compiler with POSIX threads (std::thread), GoogleTest's sources to build for
# Windows, and Wine to run what was built.
WINDOWS_PACKAGES := cmake make g++-mingw-w64-x86-64-posix googletest wine64
WINBUILD := build-windows

.PHONY: all deps windows-deps configure build test test-stress demo bench fuzz clean windows test-windows

all: build

deps:
	@$(call install,$(PACKAGES))

windows-deps:
	@$(call install,$(WINDOWS_PACKAGES))

# Installs the Debian packages of $(1) that are missing (as root), or says how.
define install
missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	  else \
	    echo "Missing packages. Run:"; echo "  sudo apt-get install$$missing"; exit 1; \
	  fi; \
	fi
endef

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DLORVANE_SANITIZE=$(SANITIZE) -DLORVANE_WERROR=$(WERROR_CMAKE)

configure: deps $(BUILD)/CMakeCache.txt
ifneq ($(WERROR),)
	@grep -qx 'LORVANE_WERROR:BOOL=$(WERROR_CMAKE)' $(BUILD)/CMakeCache.txt || \
	  cmake -S . -B $(BUILD) -DLORVANE_WERROR=$(WERROR_CMAKE)
endif

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Qt's own threads are invisible to ThreadSanitizer; tests/tsan.supp says which reports are theirs.
SAN_ENV := $(if $(filter thread,$(SANITIZE)),TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp")

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen $(SAN_ENV) ctest --output-on-failure -j $(JOBS)

# The built suite RUNS times over beside a busy loop on every processor; stops at the first
# failure with the failed tests and the seed that replays it.
test-stress: build
	JOBS=$(JOBS) QT_QPA_PLATFORM=offscreen $(SAN_ENV) bash tests/stress.sh $(BUILD) $(RUNS)

demo: build
	bash tools/demo.sh $(BUILD)

bench: build
	bash bench/run.sh $(BUILD)

fuzz: deps
	LORVANE_WERROR=$(WERROR) bash tests/fuzz/run.sh

$(WINBUILD)/CMakeCache.txt: | windows-deps
	cmake -S . -B $(WINBUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	  -DLORVANE_WERROR=$(WERROR_CMAKE)

windows: windows-deps $(WINBUILD)/CMakeCache.txt
ifneq ($(WERROR),)
	@grep -qx 'LORVANE_WERROR:BOOL=$(WERROR_CMAKE)' $(WINBUILD)/CMakeCache.txt || \
	  cmake -S . -B $(WINBUILD) -DLORVANE_WERROR=$(WERROR_CMAKE)
endif
	cmake --build $(WINBUILD) -j $(JOBS)

# The Windows tests under Wine, then the same feeds through both builds, byte for byte.
test-windows: windows build
	bash tests/windows/run.sh $(WINBUILD) build

# Every build folder: build/, build-<sanitizer>/, the fuzz targets' build-fuzz/ and the
# Windows build-windows/.
clean:
	rm -rf build build-*/
