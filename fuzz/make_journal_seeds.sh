#!/usr/bin/env bash
# make_journal_seeds.sh [BUILD_DIR]: the seeds of fuzz/corpus/scan_journal,
# saved scans written by tamsel-cli itself (BUILD_DIR/bin/tamsel-cli, build/
# by default): a FAT32 volume's (deleted entries with their runs and names,
# live files' notes) and a raw one's, each finished and with its position
# and records cut back to an unfinished scan, one without the
# whole-volume setting and the read plan as older files are, and one holding
# documents found in pieces after the scan (records written again with their
# pieces). Run it by hand when the saved scan's format changes.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$here/build}/bin/tamsel-cli
out=$here/fuzz/corpus/scan_journal
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

"$here"/tests/scripts/make-fat32-deleted-volume.sh "$work/fat.img" >/dev/null
truncate -s 2M "$work/raw.img"
dd if="$here/tests/data/pdf_ghostscript.pdf" of="$work/raw.img" bs=512 seek=100 conv=notrunc status=none

save() { # IMAGE NAME scan options...
    local image=$1 name=$2
    shift 2
    rm -rf "$work/data"
    XDG_DATA_HOME=$work/data "$cli" scan "$image" "$@" >/dev/null 2>&1
    cp "$work"/data/tamsel/scans/*.json "$out/$name.json"
}
save "$work/fat.img" fat32-deleted --tsv
save "$work/raw.img" raw-whole --tsv --fs none --whole
"$here"/tests/scripts/make-fat32-unnamed-pieces-volume.sh "$work/pieces.img"
save "$work/pieces.img" fat32-reassembled --json

python3 - "$out" <<'PY'
import json, re, sys
out = sys.argv[1]
raw = open(out + "/raw-whole.json").read()
# Cut short: nothing carved yet, no records.
cut = raw.replace('"finished":true', '"finished":false')
cut = re.sub(r'"(reached|resumeOffset)":\d+', r'"\1":0', cut)
cut = re.sub(r',"records":\[.*\]\}$', ',"records":[]}', cut)
open(out + "/raw-unfinished.json", "w").write(cut)
# Written before the whole-volume setting and the read plan were kept.
older = raw.replace(',"wholeVolume":true', '')
older = re.sub(r'"bytesToRead":\d+,', '', older)
older = re.sub(r',"unusedOnly":(true|false)', '', older)
open(out + "/raw-older.json", "w").write(older)
PY
ls -l "$out"
