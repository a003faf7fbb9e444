#!/usr/bin/env bash
# Documents in pieces: how many come back byte-identical, and what the
# search for pieces costs against the plain scan of the same image.
#
#   bench/pieces.sh [--keep] [--peers]
#
# Builds a raw image of the documents in tests/data, each laid down whole
# and cut into two and three pieces at random 4 KiB cluster boundaries
# ($ROUNDS rounds of that, default 4, each with other cuts; see
# tests/scripts/make-fragmented-image.py) in $BENCH_DIR (default
# /tmp/tamsel-pieces), then:
#   - the table of tests/scripts/check-fragmented-image.py: documents
#     recovered byte-identical by pieces and by type, and wrong assemblies
#     called whole;
#   - build/bin/bench-pieces: the scan, the details and the search for
#     pieces (anchors, each document, in total) in the same run;
#   - with --peers, PhotoRec and foremost on the same image (installed with
#     apt-get when missing), and how many of their files are byte-identical
#     to a document laid down in two or three pieces.
# Everything is removed afterwards unless --keep is given.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

keep=0
peers=0
for a in "$@"; do
    [ "$a" = "--keep" ] && keep=1
    [ "$a" = "--peers" ] && peers=1
done
dir=${BENCH_DIR:-/tmp/tamsel-pieces}
rounds=${ROUNDS:-4}
cli=$repo/build/bin/tamsel-cli
bench=$repo/build/bin/bench-pieces
[ -x "$cli" ] && [ -x "$bench" ] || cmake --build build --target tamsel-cli bench-pieces >/dev/null

mkdir -p "$dir"
cleanup() {
    [ "$keep" -eq 1 ] || rm -rf "$dir"
}
trap cleanup EXIT
img=$dir/fragmented.img
manifest=$dir/fragmented.json
python3 tests/scripts/make-fragmented-image.py "$img" "$manifest" --rounds "$rounds" --seed "${SEED:-24}"
echo "image: $(stat -c %s "$img") bytes, $(wc -l <"$manifest") documents laid down"
cat "$img" >/dev/null

rm -rf "$dir/ours"
XDG_DATA_HOME=$dir/xdg python3 tests/scripts/check-fragmented-image.py "$cli" "$img" "$manifest" "$dir/ours" --table ||
    echo "(the check above failed)"
XDG_DATA_HOME=$dir/xdg "$bench" "$img" "${BENCH_ROUNDS:-3}"

if [ "$peers" -eq 1 ]; then
    need=()
    command -v photorec >/dev/null || need+=(testdisk)
    command -v foremost >/dev/null || need+=(foremost)
    if [ ${#need[@]} -gt 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
    fi
    rm -rf "$dir/photorec" "$dir/foremost"
    # PhotoRec writes into recup folders beside the name given, and makes
    # none of the folders above them: without this it found nothing at all.
    mkdir -p "$dir/photorec"
    start=$(date +%s.%N)
    # PhotoRec leaves its session and log files in the current folder.
    rm -f "$dir/photorec.ses"
    (cd "$dir" && photorec /log /d "$dir/photorec/out" /cmd "$img" \
        partition_none,options,paranoid,fileopt,everything,disable,pdf,enable,zip,enable,doc,enable,wholespace,search \
        >/dev/null 2>&1) || true
    echo "photorec: $(echo "$(date +%s.%N) - $start" | bc) s"
    start=$(date +%s.%N)
    foremost -Q -t pdf,ole,zip -i "$img" -o "$dir/foremost" >/dev/null 2>&1 || true
    echo "foremost: $(echo "$(date +%s.%N) - $start" | bc) s"
    python3 - "$manifest" "$dir/photorec" "$dir/foremost" <<'PY'
import collections, hashlib, json, os, sys
expected = [json.loads(l) for l in open(sys.argv[1]) if l.strip()]
for tool in sys.argv[2:]:
    got = set()
    for root, _, files in os.walk(tool):
        for f in files:
            with open(os.path.join(root, f), "rb") as h:
                got.add(hashlib.sha256(h.read()).hexdigest())
    counts = collections.defaultdict(lambda: [0, 0])
    for e in expected:
        if e["decoy"]:
            continue
        counts[e["pieces"]][0] += e["sha256"] in got
        counts[e["pieces"]][1] += 1
    print("%s: byte-identical by pieces: %s" % (os.path.basename(tool),
          ", ".join("%d: %d/%d" % (k, *counts[k]) for k in (1, 2, 3))))
PY
fi
