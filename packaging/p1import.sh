#!/bin/sh
# The command on the PATH, and what the menu's entry starts. The program writes its log and its
# reports into its own folder unless P1IMPORT_LOG_FOLDER names another, and an installed
# program's folder belongs to root: this names a folder of the user's own, ~/P1Import, unless
# one is already named. It is made readable by its owner only, since a log names patients.
set -eu

if [ -z "${P1IMPORT_LOG_FOLDER:-}" ]; then
  if [ -z "${HOME:-}" ]; then
    echo "p1import : la variable HOME n'est pas définie ; indiquez le dossier du journal avec P1IMPORT_LOG_FOLDER." >&2
    exit 1
  fi
  P1IMPORT_LOG_FOLDER=$HOME/P1Import
  # A run that cannot write its log ends in failure, after the import: better said at once.
  if ! mkdir -p -m 700 -- "$P1IMPORT_LOG_FOLDER" || [ ! -w "$P1IMPORT_LOG_FOLDER" ]; then
    echo "p1import : impossible de créer le dossier du journal [$P1IMPORT_LOG_FOLDER] ou d'y écrire ; indiquez-en un autre avec P1IMPORT_LOG_FOLDER." >&2
    exit 1
  fi
fi
export P1IMPORT_LOG_FOLDER

# The program lies in lib/p1import beside the bin folder that holds this launcher.
launcher=$(readlink -f -- "$0")
exec "${launcher%/*}/../lib/p1import/p1import" "$@"
