#!/usr/bin/env bash
# Recovery accuracy against the peers, on images built from the real
# documents of the corpus (default ../shared/corpus, beside the repository):
#
#   bench/accuracy.sh [CORPUS_DIR]
#
# Images: the corpus at 4096-byte boundaries with zero slack after each
# document, and the same with older (random) bytes after each end (in both,
# one document lies across the 32 MiB window edge); and a reused disk: a
# FAT32 volume made by mkfs.fat over random bytes, the corpus copied onto it
# with mtools and half of it deleted, so that every file's last cluster
# keeps older bytes after its end. Each image goes through
# `tamsel-cli recover`, PhotoRec, foremost and scalpel (Debian packages
# testdisk, foremost, scalpel). For every tool it counts the documents
# recovered byte-identical (a PDF may end at its last "%%EOF"), truncated,
# extended, missed, and the outputs that are no document of the image.
# Work files go to $BENCH_DIR (default /tmp/tamsel-accuracy) and are removed.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=${1:-../shared/corpus}
[ -d "$corpus" ] || { echo "accuracy: no corpus at $corpus (give its folder as the first argument)" >&2; exit 1; }
work=${BENCH_DIR:-/tmp/tamsel-accuracy}
cli=build/bin/tamsel-cli
[ -x "$cli" ] || scripts/build.sh build >/dev/null
for tool in photorec foremost scalpel; do
    command -v "$tool" >/dev/null || { echo "accuracy: $tool is not installed (apt-get install testdisk foremost scalpel)" >&2; exit 1; }
done
free_kib=$(df -Pk /tmp | awk 'NR==2 {print $4}')
[ "$free_kib" -gt $((512 * 1024)) ] || { echo "accuracy: need 512 MiB free in /tmp" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

cat > "$work/scalpel.conf" <<'CONF'
doc	y	10000000	\xd0\xcf\x11\xe0\xa1\xb1
pdf	y	5000000	%PDF	%EOF\x0d	REVERSE
pdf	y	5000000	%PDF	%EOF\x0a	REVERSE
zip	y	10000000	PK\x03\x04	PK\x05\x06
CONF

run_tool() { # TOOL IMAGE OUT
    local tool=$1 img=$2 out=$3
    case $tool in
    tamsel) "$cli" recover "$img" "$out" --fs none --allow-same-volume >/dev/null 2>&1 ;;
    photorec)
        mkdir -p "$out"
        photorec /log /d "$out/recup_dir" /cmd "$img" \
            partition_none,options,paranoid,fileopt,everything,disable,pdf,enable,zip,enable,doc,enable,wholespace,search \
            >/dev/null 2>&1 || true
        rm -f photorec.log ;;
    foremost) foremost -Q -t pdf,ole,zip -i "$img" -o "$out" >/dev/null 2>&1 || true ;;
    scalpel) scalpel -c "$work/scalpel.conf" -o "$out" "$img" >/dev/null 2>&1 || true ;;
    esac
}

printf '%-22s %-9s %9s %9s %8s %6s %6s\n' image tool identical truncated extended missed extra
# reused_fat32 IMAGE EXPECTED
reused_fat32() {
    local img=$1 i=0
    # Older bytes where the files will go; the rest of the 300 MiB (4 KiB
    # clusters need 65525 of them) stays sparse.
    head -c $((64 * 1024 * 1024)) /dev/urandom > "$img"
    truncate -s 300M "$img"
    mkfs.fat -F 32 -s 8 -n REUSED "$img" >/dev/null
    export MTOOLS_SKIP_CHECK=1
    mmd -i "$img" ::/docs
    for f in $(cut -f1 "$corpus/MANIFEST.tsv" | tail -n +2); do
        mcopy -i "$img" "$corpus/$f" "::/docs/$f"
        i=$((i + 1))
        if [ $((i % 2)) -eq 0 ]; then mdel -i "$img" "::/docs/$f"; fi
    done
    python3 bench/locate_documents.py "$img" "$corpus" "$2"
}

for kind in zero random fat32; do
    img="$work/$kind.img"
    case $kind in
    fat32) reused_fat32 "$img" "$work/$kind.tsv"; label="reused FAT32" ;;
    *) python3 bench/corpus_image.py "$img" "$work/$kind.tsv" "$corpus" --slack "$kind" 2>/dev/null; label="$kind slack" ;;
    esac
    slack=$kind
    total=$(wc -l < "$work/$kind.tsv")
    for tool in tamsel photorec foremost scalpel; do
        out="$work/out-$slack-$tool"
        run_tool "$tool" "$img" "$out"
        read -r same short long missed extra < <(python3 bench/accuracy_compare.py "$work/$slack.tsv" "$corpus" "$out")
        printf '%-22s %-9s %6s/%-2s %9s %8s %6s %6s\n' "$total docs, $label" "$tool" "$same" "$total" "$short" "$long" "$missed" "$extra"
    done
done
