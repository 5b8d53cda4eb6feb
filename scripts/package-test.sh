#!/usr/bin/env bash
# Builds the Debian package from build/ (cpack), installs it as an operator would (apt-get),
# runs the installed program as an unprivileged user on a sample practice (a new embedded target,
# an import, a check), checks its version, man page, menu entry and window, then removes it.
# Run as root after scripts/setup.sh (scripts/test.sh calls it after the tests); a package left
# installed by an earlier run that stopped half-way is removed first.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

fail() {
  echo "package-test : $*" >&2
  exit 1
}

[ "$(id -u)" = 0 ] || fail "installer le paquet demande les droits root."
export DEBIAN_FRONTEND=noninteractive

installed() {
  dpkg-query -W -f='${Status}' p1import 2>/dev/null | grep -q "install ok installed"
}

work=$(mktemp -d)
cleanup() {
  if installed; then
    apt-get remove -y -qq p1import >/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The package, from what build/ holds now.
cmake --build build --parallel "$(nproc)" --target p1import p1sample p1_man_page
rm -f build/p1import_*.deb
(cd build && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
deb=p1import_${version}_amd64.deb
[ -f "build/$deb" ] || fail "cpack n'a pas fait build/$deb."
echo "Paquet : build/$deb, $(stat -c %s "build/$deb") octets"

# Its libraries are declared, none copied in.
depends=$(dpkg-deb -f "build/$deb" Depends)
for library in libqt6core6 libqt6widgets6 libqt6sql6 libmdb3 libpq5 libsqlite3-0 libmimalloc \
               libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-odbc unixodbc tdsodbc; do
  [[ $depends == *"$library"* ]] || fail "le paquet ne dépend pas de $library : $depends"
done
libraries=$(dpkg-deb -c "build/$deb" | grep -E '\.so(\.|$)' || true)
[ -z "$libraries" ] || fail "le paquet contient des bibliothèques : $libraries"

if installed; then
  apt-get remove -y -qq p1import >/dev/null
fi
(cd build && apt-get install -y -qq ./p1import_*.deb >/dev/null)
installed || fail "apt-get n'a pas installé p1import."

# The operator: not root, with a home of their own and nothing of this shell's environment.
operator_home=$work/home
mkdir -p "$operator_home" "$work/elsewhere" "$work/runtime"
chown nobody:nogroup "$operator_home" "$work/elsewhere" "$work/runtime"
chmod 700 "$work/runtime"
chmod 755 "$work"
as_operator() {
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i HOME="$operator_home" XDG_RUNTIME_DIR="$work/runtime" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"
}

[ "$(as_operator sh -c 'command -v p1import')" = /usr/bin/p1import ] || fail "p1import n'est pas sur le PATH."
printed=$(as_operator p1import --version)
[ "$printed" = "$(build/p1import --version)" ] || fail "p1import --version installé : « $printed »"
[[ $printed == "p1import $version"* ]] || fail "p1import --version : « $printed », pas la version $version."
if commit=$(git rev-parse --short=12 HEAD 2>/dev/null); then
  [[ $printed == *"$commit"* ]] || fail "p1import --version : « $printed », sans la révision $commit."
fi
echo "Version : $printed"

# An import into a new embedded target; the sample practice names two letter files that are
# missing on purpose, so the run ends with status 3.
build/p1sample --patients 40 --seed 1 "$work/source" >/dev/null
chmod -R a+rX "$work/source"
as_operator p1import --init-target "$work/home/cible" --target-engine sqlite >/dev/null
status=0
as_operator p1import --source "$work/source/V4.mdb" --letters "$work/source/Courriers" \
  --target "$work/home/cible" --target-engine sqlite --yes >"$work/import.out" 2>&1 || status=$?
[ "$status" = 0 ] || [ "$status" = 3 ] || { cat "$work/import.out" >&2; fail "l'importation a fini avec le code $status."; }
grep -q "^Traitement terminé. Durée : " "$work/import.out" || fail "l'importation n'a pas écrit sa dernière ligne."
echo "Importation : code $status"

# Its log and report went to the operator's folder, made for them and for them only.
logs=$operator_home/P1Import
[ "$(stat -c '%a %U' "$logs")" = "700 nobody" ] || fail "$logs : $(stat -c '%a %U' "$logs")"
[ "$(find "$logs" -name 'P1Import - *.log' | wc -l)" = 1 ] || fail "pas de journal dans $logs."
[ "$(find "$logs" -name 'P1Import - *.html' | wc -l)" = 1 ] || fail "pas de rapport dans $logs."
[ -z "$(find /usr/lib/p1import -name 'P1Import*')" ] || fail "un journal a été écrit dans /usr/lib/p1import."

# A log folder the operator names is kept, and the launcher makes nothing in their home then.
rm -rf "$logs"
status=0
as_operator env P1IMPORT_LOG_FOLDER="$work/elsewhere" p1import --check --source "$work/source/V4.mdb" \
  --letters "$work/source/Courriers" --target "$work/home/cible" --target-engine sqlite \
  >"$work/check.out" 2>&1 || status=$?
[ "$status" = 0 ] || [ "$status" = 3 ] || { cat "$work/check.out" >&2; fail "la vérification a fini avec le code $status."; }
[ "$(find "$work/elsewhere" -name 'P1Import - Vérification *.html' | wc -l)" = 1 ] \
  || fail "le rapport de la vérification n'est pas dans P1IMPORT_LOG_FOLDER."
[ ! -e "$logs" ] || fail "le lanceur a créé $logs alors que P1IMPORT_LOG_FOLDER était donné."

# A home where that folder cannot be made (nobody's own, /nonexistent): said at once, nothing run.
status=0
as_operator env HOME=/nonexistent p1import --init-target "$work/home/autre" >"$work/nohome.out" 2>&1 || status=$?
[ "$status" = 1 ] && grep -q "impossible de créer le dossier du journal \[/nonexistent/P1Import\]" "$work/nohome.out" \
  || { cat "$work/nohome.out" >&2; fail "un dossier du journal impossible à créer n'est pas signalé (code $status)."; }
[ ! -e "$work/home/autre" ] || fail "le programme a été lancé sans dossier du journal."

# The man page: every option of --help in it, and nothing groff warns about.
page=$(as_operator env MANPAGER=cat MANWIDTH=100 man p1import 2>&1) || fail "man p1import : $page"
for option in $(as_operator p1import --help | grep -o -- '--[a-z-]*' | sort -u); do
  grep -q -- "$option" <<<"$page" || fail "la page de manuel ne dit rien de $option."
done
grep -q "JOURNAL ET CODE DE SORTIE" <<<"$page" || fail "la page de manuel n'a pas la section du journal."
warnings=$(man --warnings -l /usr/share/man/man1/p1import.1.gz 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "la page de manuel : $warnings"
echo "Page de manuel : $(wc -l <<<"$page") lignes"

# The menu's entry, and the window it opens: still there after a few seconds, so it found its
# libraries and its display plugin.
desktop-file-validate /usr/share/applications/p1import.desktop
[ -f /usr/share/icons/hicolor/scalable/apps/p1import.svg ] || fail "l'icône n'est pas installée."
command=$(sed -n 's/^Exec=//p' /usr/share/applications/p1import.desktop)
as_operator xvfb-run -a sh -c "QT_QPA_PLATFORM=xcb $command & program=\$!; sleep 4;
  kill -0 \$program && kill \$program && exit 0; exit 1" \
  || fail "la fenêtre du programme installé ne s'est pas ouverte."
echo "Fenêtre : ouverte"

apt-get remove -y -qq p1import >/dev/null
! installed || fail "apt-get n'a pas retiré p1import."
for path in /usr/bin/p1import /usr/lib/p1import /usr/share/applications/p1import.desktop; do
  [ ! -e "$path" ] || fail "$path est resté après le retrait du paquet."
done
echo "Paquet installé, essayé et retiré en $((SECONDS - started)) s."
