#!/usr/bin/env bash
# The NTFS pass over 100,000 records against The Sleuth Kit's fls -r on the
# same volume.
#
#   bench/ntfs_mft_pass.sh [--keep]
#
# Builds (through an ntfs-3g mount; root and /dev/fuse) a 1 GiB NTFS image
# in $BENCH_DIR (default /tmp/tamsel-mft) holding $FILES files (default
# 100,000) in 100 folders: a quarter named .pdf/.docx, the rest .txt; one in
# ten of 6 KiB (clusters on the volume), the others of 200 bytes (inside
# their records). Half of them, and ten of the folders, are then deleted.
# It reads the image once so both tools read it from the page cache, then
# times $ROUNDS rounds (default 5) of bench-ntfs-pass and of
# `fls -r -p IMAGE`, alternating, and prints the medians and their ratio
# (ours / fls: below 1 is faster).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
keep=0
[ "${1:-}" = "--keep" ] && keep=1
rounds=${ROUNDS:-5}
files=${FILES:-100000}
dir=${BENCH_DIR:-/tmp/tamsel-mft}
bench=$repo/build/bin/bench-ntfs-pass
[ -x "$bench" ] || cmake --build build --target bench-ntfs-pass >/dev/null
command -v fls >/dev/null || apt-get install -y sleuthkit >/dev/null

mkdir -p "$dir"
image=$dir/mft-$files.img
if [ ! -f "$image" ]; then
    truncate -s 1G "$image.tmp"
    mkntfs -F -Q -c 4096 -L MFTBENCH "$image.tmp" >/dev/null 2>&1
    mnt=$(mktemp -d)
    trap 'mountpoint -q "$mnt" && umount "$mnt"; rmdir "$mnt" 2>/dev/null || true' EXIT
    ntfs-3g -o big_writes "$image.tmp" "$mnt"
    python3 - "$mnt" "$files" <<'PY'
import os, sys
root, files = sys.argv[1], int(sys.argv[2])
small, large = b"%PDF-1.4\n" + b"x" * 191, b"%PDF-1.4\n" + b"y" * (6 * 1024 - 9)
for d in range(100):
    os.mkdir(os.path.join(root, "folder-%03d" % d))
for n in range(files):
    ext = (".pdf", ".docx", ".txt", ".txt")[n % 4]
    path = os.path.join(root, "folder-%03d" % (n % 100), "file-%06d%s" % (n, ext))
    with open(path, "wb") as f:
        f.write(large if n % 10 == 0 else small)
for n in range(0, files, 2):
    os.unlink(os.path.join(root, "folder-%03d" % (n % 100), "file-%06d%s" % (n, (".pdf", ".docx", ".txt", ".txt")[n % 4])))
import shutil
for d in range(0, 100, 10):
    shutil.rmtree(os.path.join(root, "folder-%03d" % d))
PY
    umount "$mnt"
    mv "$image.tmp" "$image"
fi
cat "$image" > /dev/null

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ours=()
theirs=()
for ((i = 0; i < rounds; i++)); do
    ours+=("$("$bench" "$image" 1 | tee "$dir/ours.txt" | awk '{print $1}')")
    start=$(date +%s%N)
    fls -r -p "$image" > "$dir/fls.txt"
    theirs+=("$(( ($(date +%s%N) - start) / 1000000 ))")
done
o=$(printf '%s\n' "${ours[@]}" | median)
t=$(printf '%s\n' "${theirs[@]}" | median)
echo "records: $(fsstat "$image" | grep -m1 -i 'Range' || true)"
echo "bench-ntfs-pass: median $o ms ($(cat "$dir/ours.txt" | cut -d, -f2-))"
echo "fls -r -p:       median $t ms ($(wc -l < "$dir/fls.txt") lines)"
awk -v o="$o" -v t="$t" 'BEGIN {printf "ratio ours/fls: %.2f\n", o / t}'
[ "$keep" = 1 ] || rm -rf "$dir"
