#!/usr/bin/env bash
# check-translations.sh LUPDATE SOURCE_DIR: every text the sources hand to
# the translation system has a finished translation in both catalogues.
# lupdate is run on copies, so the committed catalogues are not touched.
set -euo pipefail
lupdate=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$src"/translations/tamsel_*.ts "$work"/
cd "$src"
"$lupdate" -silent -locations none -no-obsolete app recovery results disk scan filesystems analysers details \
    -ts "$work"/tamsel_en.ts "$work"/tamsel_zh_CN.ts 2>/dev/null
status=0
for ts in "$work"/tamsel_*.ts; do
    name=$(basename "$ts")
    if ! cmp -s "$ts" "$src/translations/$name"; then
        echo "$name is not what lupdate makes of the sources; run lupdate and translate:" >&2
        diff "$src/translations/$name" "$ts" | head -40 >&2 || true
        status=1
    fi
    if grep -q 'type="unfinished"' "$ts"; then
        echo "$name has unfinished translations:" >&2
        grep -B2 'type="unfinished"' "$ts" | grep '<source>' >&2 || true
        status=1
    fi
done
exit $status
