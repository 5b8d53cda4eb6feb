#!/usr/bin/env bash
# Installs the Debian packages p1import needs (only those missing) and builds it into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-odbc libgl1-mesa-dev qt6-translations-l10n
  mdbtools mdbtools-dev libsqlite3-dev libmimalloc-dev
  # FreeTDS for SQL Server; the drivers the tests reach SQLite and PostgreSQL through, as
  # production reaches SQL Server.
  unixodbc-dev unixodbc tdsodbc libsqliteodbc odbc-postgresql
  libgtest-dev libgmock-dev
  postgresql libpq-dev
  xvfb xauth
  # The Debian package: cpack's shared-library scan (file), what the package recommends
  # (libqt6svg6), and what its test reads the installed package with (man-db, desktop-file-utils).
  file libqt6svg6 man-db desktop-file-utils
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
# The T-SQL parser the tests read SQL Server's statements with runs on Node.js; a Node.js of
# another origin than Debian's, already there, serves as well.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  missing+=(nodejs npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "Paquets manquants : ${missing[*]}" >&2
    echo "Leur installation (apt-get) demande les droits root : relancez en root ou avec sudo." >&2
    exit 1
  fi
  echo "Installation des paquets manquants : ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
if [ ! -d scripts/tsql/node_modules/node-sql-parser ]; then
  npm ci --prefix scripts/tsql --no-audit --no-fund --loglevel=error
fi

# A build/ folder made earlier keeps its own generator; a new one uses Ninja.
generator=(-G Ninja)
if [ -f build/CMakeCache.txt ]; then
  generator=()
fi
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)"
