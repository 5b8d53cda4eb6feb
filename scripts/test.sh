#!/usr/bin/env bash
# Builds p1import and runs every test, the PostgreSQL ones against a throwaway server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/with-postgres.sh ctest --test-dir build --output-on-failure --timeout 900 -j 2
