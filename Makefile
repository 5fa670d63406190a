# Entry points for people and CI. Each target installs what is missing first.
JOBS ?= 2
BUILD ?= build
ASAN_BUILD ?= build-asan

.PHONY: deps build run gui screenshots test test-unit asan bench package format clean

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOLVARIN_SANITIZE=ON -DTOLVARIN_GUI=OFF

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# The main job on the built-in demo unit.
run: build
	@bash scripts/demo.sh $(BUILD)

# The window on the same demo unit (needs a desktop session).
gui: build
	@bash scripts/gui.sh $(BUILD)

# The README's pictures of the window, taken by the window tests (offscreen)
# and copied to docs/; they are made here rather than kept in the repository.
screenshots: build
	cd $(BUILD) && ctest --output-on-failure -L gui -R 'CursoryRun|NormalRun'
	cp $(BUILD)/screenshots/main-window-during.png docs/main-window.png
	cp $(BUILD)/screenshots/main-window-normal-test.png docs/window-normal-test.png

# Every test in the plain build (unit, end-to-end), then the unit tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer.
test: build asan
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L unit

asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# The Debian package of the release build, in $(BUILD)/.
package: build
	cmake --build $(BUILD) --target package

bench: build
	@bash bench/run.sh $(BUILD)
	@bash bench/gui_vs_cli.sh $(BUILD)
	@bash bench/queued_scan.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
