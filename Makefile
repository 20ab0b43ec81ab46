# The two set-up commands: `make run` and `make test`. Each installs the Debian
# packages it needs that are missing, builds, then starts the program or runs
# every test.

PACKAGES := cmake g++ make qt6-base-dev libsqlite3-dev fonts-wine
BUILD := build
SUDO := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

.PHONY: run test build deps

run: build
	./$(BUILD)/quillmarch

test: build
	cd $(BUILD) && ctest --output-on-failure

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) --parallel

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
	    echo "Installing:" $$missing; \
	    $(SUDO) apt-get update && $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi
