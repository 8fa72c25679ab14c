# The front door: `make` installs what is missing, configures and builds into build/;
# `make test` builds and runs every test; `make demo` runs one merge on a generated feed.
# SANITIZE=address (ASan + UBSan) or SANITIZE=thread builds into build-$(SANITIZE)/.
# WERROR=1 makes every compiler warning an error (CI); the build folder keeps the choice
# until WERROR=0 is given.

SANITIZE ?=
WERROR   ?=
BUILD    := build$(if $(SANITIZE),-$(SANITIZE))
JOBS     ?= $(shell nproc)
RUNS     ?= 20
WERROR_CMAKE := $(if $(filter 1 ON on yes,$(WERROR)),ON,OFF)

PACKAGES := g++ make cmake qt6-base-dev libgl-dev libgtest-dev libgmock-dev \
            fonts-wqy-microhei clang libclang-rt-14-dev locales

.PHONY: all deps configure build test test-stress demo bench fuzz clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
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

# Every build folder: build/, build-<sanitizer>/ and the fuzz targets' build-fuzz/.
clean:
	rm -rf build build-*/
