#!/usr/bin/env bash
# Builds p1import and runs every test, the PostgreSQL ones against a throwaway server; then builds
# its Debian package, installs, tries and removes it; then runs the reader's tests again, built
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the tests of the worker threads,
# built under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/with-postgres.sh ctest --test-dir build --output-on-failure --timeout 900 -j 2
bash scripts/package-test.sh

# Any sanitizer report, a leak included, ends its test program with a failure.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
generator=(-G Ninja)
if [ -f build-sanitize/CMakeCache.txt ]; then
  generator=()
fi
cmake -S . -B build-sanitize "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DP1_SANITIZE=ON >/dev/null
cmake --build build-sanitize --parallel "$(nproc)" --target reader_tests
ctest --test-dir build-sanitize --output-on-failure --timeout 900 -j 2

# The worker threads (rows read ahead, statements run ahead, letter files copied ahead) under
# ThreadSanitizer: a race or a lock taken in an order that could deadlock fails its test.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/thread_sanitizer.supp"
generator=(-G Ninja)
if [ -f build-thread-sanitize/CMakeCache.txt ]; then
  generator=()
fi
cmake -S . -B build-thread-sanitize "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DP1_THREAD_SANITIZE=ON >/dev/null
cmake --build build-thread-sanitize --parallel "$(nproc)" --target thread_tests
# The ODBC configurations run the same threads as the engines' own drivers, less the target's
# (rows do not go ahead through ODBC): they run once, in the main build, not again here.
bash scripts/with-postgres.sh ctest --test-dir build-thread-sanitize --output-on-failure --timeout 900 -j 2 \
  -E '_NOT_BUILT|Odbc'
