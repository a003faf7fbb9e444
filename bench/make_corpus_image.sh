#!/usr/bin/env bash
# make_corpus_image.sh [CORPUS_DIR [WORK_DIR]]   (CORPUS_DIR: default ../shared/corpus, beside the repository)
# Places every document of the corpus at 4096-byte boundaries with zero slack
# (one of them across the 32 MiB window edge), scans the image with
# tamsel-cli, and compares what it lists with where each document is and how
# long it is. Run by hand from the repository root after a build.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=${1:-../shared/corpus}
[ -d "$corpus" ] || { echo "make_corpus_image: no corpus at $corpus (give its folder as the first argument)" >&2; exit 1; }
work=${2:-$(mktemp -d /tmp/tamsel-corpus.XXXXXX)}
extra=${CORPUS_IMAGE_OPTIONS:-}
mkdir -p "$work"
python3 bench/corpus_image.py "$work/corpus.img" "$work/expected.tsv" "$corpus" $extra
build/bin/tamsel-cli scan "$work/corpus.img" --tsv --fs none > "$work/found.tsv"
python3 - "$work/expected.tsv" "$work/found.tsv" <<'PY'
import sys
expected = {}
for line in open(sys.argv[1]):
    sector, kind, length, name = line.rstrip("\n").split("\t")
    expected[int(sector)] = (kind, int(length), name)
found = {}
for line in open(sys.argv[2]):
    cols = line.rstrip("\n").split("\t")
    if len(cols) == 4:
        found[int(cols[2])] = (cols[1], int(cols[3]))
ok = 0
for sector, (kind, length, name) in sorted(expected.items()):
    got = found.get(sector)
    if got == (kind, length):
        ok += 1
        print("ok       %-28s sector %-8d %-4s %d" % (name, sector, kind, length))
    elif got is None:
        print("MISSING  %-28s sector %-8d %-4s %d" % (name, sector, kind, length))
    else:
        print("WRONG    %-28s sector %-8d %-4s %d  found %s %d" % (name, sector, kind, length, got[0], got[1]))
extra = sorted(set(found) - set(expected))
for sector in extra:
    print("EXTRA    sector %-8d %s %d" % (sector, found[sector][0], found[sector][1]))
print("%d of %d documents found at their sector with their type and length; %d extra record(s)"
      % (ok, len(expected), len(extra)))
sys.exit(0 if ok == len(expected) and not extra else 1)
PY
