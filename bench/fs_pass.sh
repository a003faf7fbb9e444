#!/usr/bin/env bash
# A file-system pass over 100,000 files against The Sleuth Kit's `fls -r` on
# the same volume.
#
#   bench/fs_pass.sh FAT32|exFAT|EXT4 [--keep]
#
# Builds once (in $BENCH_DIR, default /tmp/tamsel-fspass) a 1 GiB sparse
# volume with mkfs.exfat (4 KiB clusters) or mkfs.ext4 (4 KiB blocks) filled
# through a mount (a loop device; the kernel's exFAT driver, else
# exfat-fuse), or with mkfs.fat (512-byte clusters) filled by mtools: $FILES
# files (default 100,000) in 100 folders, with long names, a quarter of them
# named .pdf and a quarter .docx (the others .txt, which a pass still opens
# when they are deleted, for a document's signature); then the files of
# every tenth folder, and one file in ten elsewhere, are deleted. Building
# takes a minute or two (root, loop devices).
#
# It reads the image once so both tools read it from the page cache, then
# times `fls -r` and build/bin/bench-filesystem-pass (the pass alone and the
# whole process) alternately for $ROUNDS rounds (default 5) and prints the
# fastest and the median of each and the ratio of the fastest (ours / fls:
# below 1 is faster). The volume is removed afterwards unless --keep is given.
set -euo pipefail
cd "$(dirname "$0")/.."

fs=${1:?usage: fs_pass.sh FAT32|exFAT|EXT4 [--keep]}
keep=0
[ "${2:-}" = "--keep" ] && keep=1
rounds=${ROUNDS:-5}
files=${FILES:-100000}
dir=${BENCH_DIR:-/tmp/tamsel-fspass}
pass=build/bin/bench-filesystem-pass
image="$dir/$(echo "$fs" | tr 'A-Z' 'a-z')-$files.img"

[ -x "$pass" ] || { echo "fs_pass: build bench-filesystem-pass first (cmake --build build --target bench-filesystem-pass)" >&2; exit 1; }
command -v fls >/dev/null || { echo "fs_pass: fls (sleuthkit) is missing" >&2; exit 1; }
case $fs in FAT32 | exFAT | EXT4) ;; *) echo "fs_pass: FAT32, exFAT or EXT4, not $fs" >&2; exit 2 ;; esac
mkdir -p "$dir"

# names ROOT FILES all|live|deleted: the files' paths, one a line. Long
# names that start with their number, so that their 8.3 aliases never clash
# (mtools would otherwise try ~1, ~2, ... against the whole folder for each).
names() {
    python3 - "$@" <<'PY'
import sys
root, files, which = sys.argv[1], int(sys.argv[2]), sys.argv[3]
ext = (".pdf", ".docx", ".txt", ".txt")
for n in range(files):
    folder = n % 100
    gone = folder % 10 == 0 or (n // 100) % 10 == 7
    if which == "all" or (which == "deleted") == gone:
        print("%s/folder %02d/%06d document of the bench%s" % (root, folder, n, ext[n % 4]))
PY
}
# fill ROOT: the folders and files under ROOT.
fill() {
    mkdir "$1"/folder\ {00..99}
    names "$1" "$files" all | python3 -c '
import sys
for n, path in enumerate(sys.stdin.read().splitlines()):
    with open(path, "wb") as f:
        f.write(b"%PDF-1.4\n" if n % 4 == 0 else b"file %d\n" % n)'
}

if [ ! -f "$image" ]; then
    rm -f "$image.tmp"
    truncate -s 1G "$image.tmp"
    mnt=$(mktemp -d)
    loop=""
    cleanup() {
        if mountpoint -q "$mnt"; then umount "$mnt" 2>/dev/null || fusermount -u "$mnt" || true; fi
        if [ -n "$loop" ]; then losetup -d "$loop" 2>/dev/null || true; fi
        rm -rf "$mnt"
    }
    trap cleanup EXIT
    case $fs in
    FAT32)
        # Through mtools: kernels without vfat are common in containers,
        # and FUSE's FAT driver writes a few files a second.
        mkfs.fat -F 32 -s 1 -n BENCH "$image.tmp" >/dev/null
        export MTOOLS_SKIP_CHECK=1
        fill "$mnt"
        mcopy -i "$image.tmp" -s "$mnt"/* ::/
        names :: "$files" deleted | xargs -d '\n' mdel -i "$image.tmp" ;;
    exFAT | EXT4)
        if [ "$fs" = exFAT ]; then
            mkfs.exfat -c 4096 -L BENCH "$image.tmp" >/dev/null
            if ! mount -t exfat -o loop "$image.tmp" "$mnt" 2>/dev/null; then
                loop=$(losetup -f --show "$image.tmp")
                mount.exfat-fuse "$loop" "$mnt" >/dev/null
            fi
        else
            # The default ratio would give 65,536 inodes: too few.
            mkfs.ext4 -q -F -b 4096 -N $((files + 16384)) -L BENCH "$image.tmp"
            mount -t ext4 -o loop "$image.tmp" "$mnt"
        fi
        fill "$mnt"
        names "$mnt" "$files" deleted | xargs -d '\n' rm -f
        umount "$mnt" 2>/dev/null || fusermount -u "$mnt"
        if [ -n "$loop" ]; then losetup -d "$loop"; loop=""; fi ;;
    esac
    mv "$image.tmp" "$image"
fi

cat "$image" >/dev/null
stats() { sort -n | awk '{a[NR]=$1} END {printf "%.3f %.3f\n", a[1], a[int((NR+1)/2)]}'; }
ours=()
alone=()
theirs=()
for r in $(seq "$rounds"); do
    start=$(date +%s%N)
    entries=$(fls -r "$image" | wc -l)
    theirs+=("$(( ($(date +%s%N) - start) / 1000 ))")
    start=$(date +%s%N)
    read -r seconds live deleted < <("$pass" "$fs" "$image")
    ours+=("$(( ($(date +%s%N) - start) / 1000 ))")
    alone+=("$(awk -v s="$seconds" 'BEGIN {printf "%d", s * 1e6}')")
done
read -r tmin tmed < <(printf '%s\n' "${theirs[@]}" | awk '{print $1 / 1e6}' | stats)
read -r omin omed < <(printf '%s\n' "${ours[@]}" | awk '{print $1 / 1e6}' | stats)
read -r amin amed < <(printf '%s\n' "${alone[@]}" | awk '{print $1 / 1e6}' | stats)
echo "$fs, $files files, $rounds rounds (fastest / median seconds)"
echo "fls -r:              ${tmin}s / ${tmed}s ($entries lines)"
echo "bench-filesystem-pass: ${omin}s / ${omed}s whole process; the pass alone ${amin}s / ${amed}s ($live live documents, $deleted deleted records posted)"
echo "ratio ours/fls (fastest, whole process): $(awk -v a="$omin" -v b="$tmin" 'BEGIN {printf "%.3f", a / b}')"
echo "ratio ours/fls (fastest, pass alone):    $(awk -v a="$amin" -v b="$tmin" 'BEGIN {printf "%.3f", a / b}')"
[ "$keep" -eq 1 ] || rm -f "$image"
