#!/usr/bin/env bash
# Saves PNGs of reconciliation reports as a browser draws them: the demo's run, and (when a second
# file is named) the same import run again into a target that refuses some of its rows.
# Usage: scripts/report-screenshot.sh OUTFILE.png [REFUSALS.png]
set -euo pipefail
cd "$(dirname "$0")/.."
absolute() { mkdir -p "$(dirname "$1")" && echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
out=$(absolute "${1:?usage: scripts/report-screenshot.sh OUTFILE.png [REFUSALS.png]}")
refusals=${2:+$(absolute "$2")}

needed=(chromium)
[ -n "$refusals" ] && needed+=(sqlite3)
for tool in "${needed[@]}"; do
  if ! command -v "$tool" >/dev/null; then
    if [ "$(id -u)" != 0 ]; then
      echo "Le programme $tool manque ; son installation (apt-get) demande les droits root." >&2
      exit 1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$tool"
  fi
done

logs=$(mktemp -d /tmp/p1import-report.XXXXXX)
trap 'rm -rf "$logs"' EXIT

# The newest report of the log folder, drawn into the PNG.
draw() {
  local report
  report=$(ls -1t "$logs"/P1Import\ -\ *.html | head -n 1)
  chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1000,"$2" \
    --screenshot="$1" "file://$report" 2>/dev/null
  echo "$1"
}

export P1IMPORT_LOG_FOLDER="$logs"
P1IMPORT_DEMO_PATIENTS=${P1IMPORT_DEMO_PATIENTS:-40} bash scripts/demo.sh >/dev/null
draw "$out" 1900

if [ -n "$refusals" ]; then
  demo=${P1IMPORT_DEMO_DIR:-$PWD/build/demo}
  database=$(sed -n 's/^DatabaseName=//p' "$demo/target/Kelvanor.ver" | tr -d '\r')
  case "$database" in /*) ;; *) database="$demo/target/$database" ;; esac
  # The target refuses one patient in twelve and one consultation in nine, as a server whose
  # rules the import does not know would.
  sqlite3 "$database" \
    "CREATE TRIGGER refuse_patients BEFORE INSERT ON PATIENTS WHEN NEW.PATIENTS_ID % 12 = 0
       BEGIN SELECT RAISE(ABORT, 'patient refusé par une règle de la base'); END;
     CREATE TRIGGER refuse_motconsu BEFORE INSERT ON MOTCONSU WHEN NEW.MOTCONSU_ID % 9 = 0
       BEGIN SELECT RAISE(ABORT, 'consultation refusée par une règle de la base'); END;"
  sleep 1 # a report of its own second, not beside the first one's name
  status=0
  ./build/p1import --source "$demo/source/V4.mdb" --letters "$demo/source/Courriers" \
    --target "$demo/target/Kelvanor.ver" --target-engine sqlite --yes >/dev/null || status=$?
  [ "$status" = 3 ] || { echo "L'importation aux lignes refusées a fini avec le code $status." >&2; exit 1; }
  draw "$refusals" 2300
fi
