# The two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: run test build deps install
PREFIX ?= /usr/local

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -G Ninja >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	@scripts/run-vantle $(BUILD)

# Not a set-up step: copies the built Vantle into $(PREFIX) (DESTDIR is honoured, for packages).
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)
