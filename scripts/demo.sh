#!/usr/bin/env bash
# The main job on the embedded default: builds p1import, generates a sample practice, creates an
# empty SQLite target and imports the practice into it from the command line, then prints the log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

demo=${P1IMPORT_DEMO_DIR:-$PWD/build/demo}
marker="$demo/.p1import-demo"
# Only a folder this script made (it holds the marker) is emptied: never an operator's folder.
if [ -e "$demo" ] && [ ! -e "$marker" ] && [ -n "$(ls -A "$demo" 2>/dev/null)" ]; then
  echo "Le dossier $demo existe et n'a pas été créé par ce script : il n'est pas vidé." >&2
  echo "Choisissez un autre dossier avec P1IMPORT_DEMO_DIR." >&2
  exit 1
fi
rm -rf "$demo"
mkdir -p "$demo"
touch "$marker"

./build/p1sample --patients "${P1IMPORT_DEMO_PATIENTS:-300}" --seed 1 "$demo/source"
./build/p1import --init-target "$demo/target" --target-engine sqlite
# The sample practice names two letter files that are missing on purpose: the run ends with
# status 3 (rows refused, each named in the log), which is what the demo shows.
status=0
./build/p1import --source "$demo/source/V4.mdb" --letters "$demo/source/Courriers" \
  --target "$demo/target/Kelvanor.ver" --target-engine sqlite --yes || status=$?
if [ "$status" != 0 ] && [ "$status" != 3 ]; then
  exit "$status"
fi

echo
echo "Base cible : $demo/target"
logs=${P1IMPORT_LOG_FOLDER:-build}
ls -1t "$logs"/P1Import\ -\ *.log | head -n 1 | sed 's/^/Fichier journal : /'
ls -1t "$logs"/P1Import\ -\ *.html | head -n 1 | sed 's/^/Rapport : /'
