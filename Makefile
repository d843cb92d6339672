# Two commands for a newcomer:
#   make run    builds the client and starts it in ./run (its working directory)
#   make test   builds and runs every test: ASan+UBSan suite, ThreadSanitizer
#               suite for the threaded code, and the fuzz targets (when clang exists;
#               that build also checks the locking annotations of every library)
#   make bench  builds the release configuration and prints the benchmark
#               figures, each with a reference measured in the same run
JOBS ?= $(shell nproc)
CLANGXX ?= $(shell command -v clang++ 2>/dev/null)

.PHONY: run build bench test test-asan test-tsan test-fuzz clean

build:
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/release -j $(JOBS)

run: build
	@mkdir -p run && cd run && exec ../build/release/tandrel $(ARGS)

# Not part of the test command: it takes several minutes and wants a quiet
# machine. BENCH_ARGS passes options on (e.g. --only hash,idle).
bench: build
	python3 bench/run_bench.py --build build/release $(BENCH_ARGS)

test: test-asan test-tsan test-fuzz

test-asan:
	cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DTANDREL_SANITIZE=ON
	cmake --build build/test -j $(JOBS)
	cd build/test && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

test-tsan:
	cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DTANDREL_TSAN=ON
	cmake --build build/tsan -j $(JOBS)
	cd build/tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest --output-on-failure -j $(JOBS) --no-tests=ignore

test-fuzz:
	@if [ -z "$(CLANGXX)" ]; then echo "clang++ not found: fuzz targets and lock analysis skipped"; exit 0; fi; \
	cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug -DTANDREL_FUZZ=ON -DCMAKE_CXX_COMPILER=$(CLANGXX) && \
	cmake --build build/fuzz -j $(JOBS) && \
	cd build/fuzz && ctest --output-on-failure -j $(JOBS) --no-tests=ignore

clean:
	rm -rf build
