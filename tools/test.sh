#!/usr/bin/env bash
# Builds and runs every test: a warnings-as-errors build, the Debian package's install and purge
# cycle (tools/package-check.sh), an AddressSanitizer + UndefinedBehaviorSanitizer build, a
# ThreadSanitizer build of the concurrency tests, a clang build of the whole tree with its
# thread-safety analysis as errors, and a short run of each fuzz target from that build. Any
# failing step fails the script.
#
# PICTORA_FUZZ_SECONDS: time per fuzz target (default 45).
# PICTORA_SANITIZER_TIME_SCALE: how much longer timing-sensitive tests may take under the
# sanitizers (default 3; see tests/e2e/server_process.py).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
sanitizer_scale=${PICTORA_SANITIZER_TIME_SCALE:-3}
started=$SECONDS

step() { printf '\n==== %s (%d s)\n' "$*" $((SECONDS - started)); }
trap 'status=$?; [ $status -eq 0 ] || printf "\n==== FAILED (exit %d) after %d s\n" $status $((SECONDS - started))' EXIT

step "build (warnings as errors)"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPICTORA_WERROR=ON >/dev/null
cmake --build build/release -j "$jobs"
step "tests"
ctest --test-dir build/release --output-on-failure -j "$jobs"

step "Debian package (contents, install, console run, purge)"
if [ "$(id -u)" -eq 0 ]; then
  PICTORA_JOBS=$jobs tools/package-check.sh
else
  sudo PICTORA_JOBS="$jobs" tools/package-check.sh
fi

step "build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPICTORA_WERROR=ON -DPICTORA_SANITIZE=ON \
  -DPICTORA_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"
step "tests under ASan/UBSan"
PICTORA_TEST_TIME_SCALE=$sanitizer_scale \
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

step "build (ThreadSanitizer, concurrency tests)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPICTORA_WERROR=ON -DPICTORA_TSAN=ON \
  -DPICTORA_BENCH=OFF >/dev/null
cmake --build build/tsan -j "$jobs" --target concurrency_tests
step "concurrency tests under TSan"
PICTORA_TEST_TIME_SCALE=$sanitizer_scale TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L concurrency

# One clang build serves two purposes: the whole tree, tests included, compiled with the
# thread-safety analysis as errors, and the libFuzzer targets over the instrumented libraries.
step "build (clang: thread-safety analysis as errors, libFuzzer targets)"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPICTORA_WERROR=ON \
  -DPICTORA_FUZZ=ON -DPICTORA_BENCH=OFF >/dev/null
cmake --build build/fuzz -j "$jobs"
targets=(build/fuzz/bin/fuzz_*)
[ -x "${targets[0]}" ] || { echo "no fuzz targets were built" >&2; exit 1; }
mkdir -p build/fuzz/artifacts
for target in "${targets[@]}"; do
  name=$(basename "$target")
  step "fuzzing $name for ${PICTORA_FUZZ_SECONDS:-45} s"
  corpus="fuzz/corpus/$name"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  # A crash, leak, sanitizer report or out-of-memory makes libFuzzer exit non-zero; the
  # reproducer lands in build/fuzz/artifacts and the end of the log is shown.
  dictionary=()
  for found in fuzz/*/"$name".dict; do [ -f "$found" ] && dictionary=(-dict="$found"); done
  fuzz_status=0
  "$target" "${dictionary[@]}" -max_total_time="${PICTORA_FUZZ_SECONDS:-45}" -rss_limit_mb=2048 \
    -artifact_prefix=build/fuzz/artifacts/"$name"- "$work" >"$work.log" 2>&1 || fuzz_status=$?
  if [ "$fuzz_status" -ne 0 ]; then
    tail -n 60 "$work.log"
    echo "$name failed (exit $fuzz_status); reproducer in build/fuzz/artifacts" >&2
    exit 1
  fi
  tail -n 2 "$work.log"
  rm -rf "$work" "$work.log"
done
printf '\n==== all tests passed in %d s\n' $((SECONDS - started))
