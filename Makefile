# The two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: run test build deps install sanitize sanitize-threads
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

# Not a set-up command: what a developer runs before stopping, and CI after `make test`. The suite
# under AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/ (see scripts/sanitize).
sanitize: deps
	@JOBS=$(JOBS) scripts/sanitize address

# ThreadSanitizer over the stream and open-app test programs in build-tsan/; CI runs it after sanitize.
sanitize-threads: deps
	@JOBS=$(JOBS) scripts/sanitize thread
