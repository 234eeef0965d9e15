#!/usr/bin/env bash
# The folder `cmake --install` makes must run on its own: program, driver,
# launcher and icon, with the store, settings and backups made beside the
# program.
set -euo pipefail
build_dir=$1
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

cmake --install "$build_dir" --prefix "$folder/pellory" >/dev/null
cd "$folder/pellory"
for file in pellory sqldrivers/libqsqlcipher.so pellory.desktop pellory.png; do
  [ -f "$file" ] || { echo "missing from the bundle: $file"; exit 1; }
done
grep -qx "Exec=$folder/pellory/pellory" pellory.desktop ||
  { echo "launcher does not name the installed program:"; cat pellory.desktop; exit 1; }

# Started from elsewhere, it still keeps its files in its own folder.
cd /
QT_QPA_PLATFORM=offscreen "$folder/pellory/pellory" >/dev/null 2>&1 &
program=$!
backup="$folder/pellory/backup/Stock-$(date +%F).db"
for _ in $(seq 100); do
  [ -s "$folder/pellory/Stock.db" ] && [ -s "$folder/pellory/plconfig.ini" ] && [ -s "$backup" ] && break
  sleep 0.1
done
kill "$program"
wait "$program" 2>/dev/null || true
[ -s "$folder/pellory/Stock.db" ] || { echo "no Stock.db beside the installed program"; exit 1; }
[ -s "$folder/pellory/plconfig.ini" ] || { echo "no plconfig.ini beside the installed program"; exit 1; }
[ -s "$backup" ] || { echo "no backup/Stock-$(date +%F).db beside the installed program"; exit 1; }
if head -c 15 "$folder/pellory/Stock.db" | grep -q "SQLite format 3"; then
  echo "the installed program wrote an unencrypted store"
  exit 1
fi
echo "bundle ok"
