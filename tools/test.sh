#!/usr/bin/env bash
# Builds and runs every test: a warnings-as-errors build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build, a ThreadSanitizer build of the concurrency tests and a
# short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

step() { printf '\n==== %s\n' "$*"; }

step "build (warnings as errors)"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPICTORA_WERROR=ON >/dev/null
cmake --build build/release -j "$jobs"
step "tests"
ctest --test-dir build/release --output-on-failure -j "$jobs" -LE benchmark

step "build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPICTORA_WERROR=ON -DPICTORA_SANITIZE=ON \
  -DPICTORA_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"
step "tests under ASan/UBSan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE 'benchmark|slow'

step "build (ThreadSanitizer, concurrency tests)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPICTORA_WERROR=ON -DPICTORA_TSAN=ON \
  -DPICTORA_BENCH=OFF >/dev/null
tsan_targets=$(cmake --build build/tsan --target help | sed -n 's/^\([a-z_]*concurrency[a-z_]*\): .*/\1/p')
if [ -n "$tsan_targets" ]; then
  cmake --build build/tsan -j "$jobs" --target $tsan_targets
  step "concurrency tests under TSan"
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L concurrency
fi

if [ -f fuzz/CMakeLists.txt ] && grep -q add_executable fuzz/*/CMakeLists.txt fuzz/CMakeLists.txt 2>/dev/null; then
  step "fuzzing (libFuzzer, ASan/UBSan, fixed time per target)"
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPICTORA_FUZZ=ON -DPICTORA_TESTS=OFF -DPICTORA_BENCH=OFF >/dev/null
  cmake --build build/fuzz -j "$jobs"
  for target in build/fuzz/bin/fuzz_*; do
    corpus="fuzz/corpus/$(basename "$target")"
    work=$(mktemp -d)
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
    "$target" -max_total_time="${PICTORA_FUZZ_SECONDS:-30}" -rss_limit_mb=2048 "$work" 2>&1 | tail -n 3
    rm -rf "$work"
  done
fi
step "all tests passed"
