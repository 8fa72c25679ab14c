# The front door: `make` installs what is missing, configures and builds the programs and tools
# into build/; `make test` installs what the tests need and builds and runs every test;
# `make demo` runs one merge on a generated feed.
# `make install [PREFIX=/usr/local] [DESTDIR=]` installs the programs (lorvane-feedgen in
# PREFIX/libexec/lorvane), man pages, bash completions, the guide and example settings,
# launcher, icon and systemd units; `make deb` builds the Debian packages lorvane (the server),
# lorvane-desktop (the form) and lorvane-tools (the feed generator) into build/.
# SANITIZE=address (ASan + UBSan) or SANITIZE=thread builds into build-$(SANITIZE)/.
# WERROR=1 makes every compiler warning an error (CI); the build folder keeps the choice
# until WERROR=0 is given.
# `make windows` cross-builds the Windows programs into build-windows/ (mingw-w64, static);
# `make msi` builds their installer build-windows/lorvane-<version>-x64.msi (wixl);
# `make test-windows` runs their tests under Wine, compares both builds' runs, drives the
# Windows form on a virtual display and installs and removes the installer;
# `make windows-shot` takes docs/form-windows.png, the Windows form under Wine after a run.
# `make ci-try` runs CI's .ci/run on a clean clone in a fresh minimal Debian 12 chroot.

SANITIZE ?=
WERROR   ?=
BUILD    := build$(if $(SANITIZE),-$(SANITIZE))
JOBS     ?= $(shell nproc)
RUNS     ?= 20
PREFIX   ?= /usr/local
DESTDIR  ?=
WERROR_CMAKE := $(if $(filter 1 ON on yes,$(WERROR)),ON,OFF)

# What the programs need to build, and the CJK font the form's labels need.
PACKAGES := g++ make cmake qt6-base-dev libgl-dev fonts-wqy-microhei
# What the tests need besides: GoogleTest, clang for the fuzz targets, localedef for the
# clock tests' locales, and the tools that check the packages (lintian, systemd-analyze,
# systemd-tmpfiles, desktop-file-validate, dpkg-shlibdeps, bash-completion's loader).
TEST_PACKAGES := libgtest-dev libgmock-dev clang libclang-rt-14-dev locales \
                 lintian systemd desktop-file-utils dpkg-dev bash-completion
# What `make deb` needs besides the programs' own: dpkg-shlibdeps for the dependencies.
PACKAGING_PACKAGES := dpkg-dev
# `make deb-try` and `make ci-try`: a Debian 12 chroot to install the package into, or to
# run CI in.
TRY_PACKAGES := debootstrap
# make bench counts a run's system calls with strace.
BENCH_PACKAGES := strace
# The cross compiler with POSIX threads (std::thread), GoogleTest's sources to build for
# Windows, Wine to run what was built, and wixl to build the installer.
WINDOWS_PACKAGES := cmake make g++-mingw-w64-x86-64-posix googletest wine64 wixl
# What the Windows tests need besides: a virtual X display for the form, a CJK font for its
# labels under Wine, and Wine's own fonts (the title bar's buttons).
WINDOWS_TEST_PACKAGES := xvfb fonts-wqy-microhei fonts-wine
# What the Windows form's picture needs besides: xwd and ImageMagick.
WINDOWS_SHOT_PACKAGES := x11-apps imagemagick
WINBUILD := build-windows
# The programs and tools that `make` builds; `make test` builds everything.
PROGRAMS := lorvane lorvane-form lorvane-index lorvane-feedgen

.PHONY: all deps test-deps packaging-deps windows-deps windows-test-deps configure build build-all test \
        test-stress demo bench fuzz clean windows msi test-windows windows-shot install deb deb-try ci-try

all: build

deps:
	@$(call install,$(PACKAGES))

test-deps: deps
	@$(call install,$(TEST_PACKAGES))

packaging-deps: deps
	@$(call install,$(PACKAGING_PACKAGES))

windows-deps:
	@$(call install,$(WINDOWS_PACKAGES))

windows-test-deps: windows-deps
	@$(call install,$(WINDOWS_TEST_PACKAGES))

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
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS)

# Everything, the tests included. A build folder configured before GoogleTest was installed
# is configured again, so that it has them.
build-all: test-deps configure
	@grep -qx 'LORVANE_TESTS:INTERNAL=ON' $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD)
	cmake --build $(BUILD) -j $(JOBS)

# Qt's own threads are invisible to ThreadSanitizer; tests/tsan.supp says which reports are theirs.
# The C library keeps what newlocale() reads of LOCPATH for good; tests/lsan.supp says which.
SAN_ENV := $(if $(filter thread,$(SANITIZE)),TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp") \
           $(if $(filter address,$(SANITIZE)),LSAN_OPTIONS="suppressions=$(CURDIR)/tests/lsan.supp")

test: build-all
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen $(SAN_ENV) ctest --output-on-failure -j $(JOBS)

# The built suite RUNS times over beside a busy loop on every processor; stops at the first
# failure with the failed tests and the seed that replays it.
test-stress: build-all
	JOBS=$(JOBS) QT_QPA_PLATFORM=offscreen $(SAN_ENV) bash tests/stress.sh $(BUILD) $(RUNS)

# The paths inside the systemd units and the launcher are those of PREFIX; DESTDIR only moves
# where the files land (for staging or packaging).
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# Packages left by an earlier build under other names go first, so that build/*.deb are
# this build's.
deb: packaging-deps build
	rm -f $(BUILD)/*.deb
	cd $(BUILD) && cpack -G DEB
	@ls -1 $(BUILD)/*.deb

# Installs the server package alone into a fresh Debian 12 chroot (build-try/root) and tells
# what it pulled in, then the form's package, then runs the service's one run in it by hand,
# as the service would, printing what it left.
deb-try: deb
	@$(call install,$(TRY_PACKAGES))
	bash packaging/try-in-chroot.sh $(BUILD)

# CI's own run, `bash .ci/run`, in a clean clone of the current commit on a fresh minimal
# Debian 12 chroot (build-ci/) that has only git and make: proves that the Makefile installs
# all that a new machine lacks. Prints the time taken and the result.
ci-try:
	@$(call install,$(TRY_PACKAGES))
	bash tests/frontdoor/ci-in-chroot.sh

demo: build
	bash tools/demo.sh $(BUILD)

bench: configure
	@$(call install,$(BENCH_PACKAGES))
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS) lorvane-floor lorvane-benchcheck lorvane-peakrss
	bash bench/run.sh $(BUILD)

fuzz: test-deps
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

msi: windows
	cmake --build $(WINBUILD) --target msi
	@ls -1 $(WINBUILD)/lorvane-*-x64.msi

# The Windows tests under Wine, then the same feeds through both builds, byte for byte, then
# the form on a virtual display, then the installer.
test-windows: windows-test-deps msi build
	bash tests/windows/run.sh $(WINBUILD) build

windows-shot: windows-test-deps windows build
	@$(call install,$(WINDOWS_SHOT_PACKAGES))
	bash tests/windows/form.sh $(WINBUILD) build docs/form-windows.png

# Every build folder: build/, build-<sanitizer>/, the fuzz targets' build-fuzz/, the Windows
# build-windows/ and the chroots of build-try/ and build-ci/. A chroot whose script was killed
# may still have the machine's /dev bound in it: rm stays on the build folders' own file system.
clean:
	rm -rf --one-file-system build build-*/
