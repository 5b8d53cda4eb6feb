#!/usr/bin/env bash
# Saves PNGs of the real window, drawn by X under Xvfb: at start and after a finished run.
# Usage: scripts/screenshot.sh OUTDIR [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:?usage: scripts/screenshot.sh OUTDIR [BUILD_DIR]}
build=${2:-build}
mkdir -p "$out"
out=$(cd "$out" && pwd)

cmake --build "$build" --target tst_main_window
P1IMPORT_SCREENSHOT_DIR="$out" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
  xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/tst_main_window" \
  --gtest_filter='MainWindowTest.OpensWithTheDefaults:MainWindowTest.FullRunEndsWithTheClosingMessageAndRestoresTheWindow'
ls -1 "$out"/*.png
