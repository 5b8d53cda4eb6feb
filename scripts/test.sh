#!/usr/bin/env bash
# Builds p1import and runs every test, the PostgreSQL ones against a throwaway server; then builds
# its Debian package, installs, tries and removes it; then runs the reader's tests again, built
# under AddressSanitizer and UndefinedBehaviorSanitizer.
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
