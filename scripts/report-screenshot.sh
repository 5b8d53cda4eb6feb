#!/usr/bin/env bash
# Saves a PNG of the reconciliation report of the demo's run, as a browser draws it.
# Usage: scripts/report-screenshot.sh OUTFILE.png
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:?usage: scripts/report-screenshot.sh OUTFILE.png}
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

if ! command -v chromium >/dev/null; then
  if [ "$(id -u)" != 0 ]; then
    echo "Le navigateur chromium manque ; son installation (apt-get) demande les droits root." >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq chromium
fi

logs=$(mktemp -d /tmp/p1import-report.XXXXXX)
trap 'rm -rf "$logs"' EXIT
P1IMPORT_LOG_FOLDER="$logs" P1IMPORT_DEMO_PATIENTS=${P1IMPORT_DEMO_PATIENTS:-40} bash scripts/demo.sh >/dev/null
report=$(ls -1 "$logs"/P1Import\ -\ *.html | head -n 1)
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1100,1400 \
  --screenshot="$out" "file://$report" 2>/dev/null
echo "$out"
