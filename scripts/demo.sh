#!/usr/bin/env bash
# The main job on the embedded default: builds p1import, generates a sample practice, creates an
# empty SQLite target and imports the practice into it from the command line, then prints the log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

demo=${P1IMPORT_DEMO_DIR:-$PWD/build/demo}
rm -rf "$demo"
mkdir -p "$demo"

./build/p1sample --patients "${P1IMPORT_DEMO_PATIENTS:-300}" --seed 1 "$demo/source"
./build/p1import --init-target "$demo/target" --target-engine sqlite
./build/p1import --source "$demo/source/V4.mdb" --letters "$demo/source/Courriers" \
  --target "$demo/target/Kelvanor.ver" --target-engine sqlite --yes

echo
echo "Base cible : $demo/target"
ls -1t build/P1Import\ -\ *.log | head -n 1 | sed 's/^/Fichier journal : /'
