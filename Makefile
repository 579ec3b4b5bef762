# Vesk: `make run` plays, `make test` runs every test. Both install what is missing first.
# `sudo make install` installs under PREFIX (staged under DESTDIR when set);
# `make package` writes the Debian package $(BUILD)/vesk_VERSION_ARCH.deb.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
DESTDIR ?=
# What `make install` installed, one path a line (DESTDIR included), for `make uninstall`:
# the files, then the folders it made, deepest first.
INSTALLED = $(BUILD)/installed_files.txt

.PHONY: all build run test test-sanitize test-package install uninstall package setup clean format

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run:
	./scripts/setup.sh run
	$(MAKE) build
	./$(BUILD)/vesk

test:
	./scripts/setup.sh test
	$(MAKE) build
	cd $(BUILD) && ctest --output-on-failure

# Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	./scripts/setup.sh test
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=address,undefined
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ctest --output-on-failure -L unit

# The Debian package from build to removal on this machine (as root or through sudo).
test-package:
	./scripts/setup.sh package
	./tests/package/install_test.sh

install:
	./scripts/setup.sh run
	$(MAKE) build
	{ find "$(DESTDIR)$(PREFIX)" -type d 2>/dev/null || true; } | sort > $(BUILD)/folders_before.txt
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)" --strip
	{ sed 's|^|$(DESTDIR)|' $(BUILD)/install_manifest.txt; echo; \
	  find "$(DESTDIR)$(PREFIX)" -type d | sort | comm -13 $(BUILD)/folders_before.txt - | sort -r; \
	} | grep -v '^$$' > $(INSTALLED)
	rm -f $(BUILD)/folders_before.txt

# Removes the files the last `make install` put in place, then the folders it
# made, if they are empty.
uninstall:
	@test -f $(INSTALLED) || { echo "uninstall: no $(INSTALLED): nothing installed from $(BUILD)" >&2; exit 1; }
	while IFS= read -r path || [ -n "$$path" ]; do \
	  if [ -d "$$path" ]; then rmdir "$$path" 2>/dev/null || true; else rm -f "$$path"; fi; \
	done < $(INSTALLED)
	rm -f $(INSTALLED)

package:
	./scripts/setup.sh package
	$(MAKE) build
	rm -f $(BUILD)/vesk_*.deb
	cd $(BUILD) && cpack -G DEB

format:
	clang-format -i src/*.cpp src/*.h tests/*.cpp tests/*.h packaging/icon/*.cpp

clean:
	rm -rf $(BUILD) build-sanitize
