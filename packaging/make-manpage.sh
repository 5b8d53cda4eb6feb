#!/usr/bin/env bash
# make-manpage.sh PROGRAM SECTIONS OUTPUT
# Writes OUTPUT (gzip), the French man page of PROGRAM: its --help turned into roff by
# help-to-man.awk, then the hand-written SECTIONS (environment, files). The page is dated by
# SOURCE_DATE_EPOCH when it is set, so that a package built again from the same sources is the same.
set -euo pipefail
program=$1
sections=$2
output=$3
here=$(dirname "$0")

if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  date=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)
else
  date=$(date -u +%Y-%m-%d)
fi
help=$("$program" --help)
version=$("$program" --version)

# Written under a name of its own, then renamed: a failed step leaves no cut page behind.
partial="$output.partial"
trap 'rm -f "$partial"' EXIT
{
  printf '%s\n' "$help" | awk -v version="$version" -v date="$date" -f "$here/help-to-man.awk"
  cat "$sections"
} | gzip -9n > "$partial"
mv "$partial" "$output"
