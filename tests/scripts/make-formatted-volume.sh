#!/usr/bin/env bash
# make-formatted-volume.sh KIND IMAGE: a volume that was filled and then
# quick-formatted, as a user who formats the wrong stick leaves it. KIND is
# ntfs, ntfs-grown (see below), exfat, fat32, fat16 or fat12. The volume
# gets folders of documents (two copies of each of tests/data's documents
# under names of their own, in nested folders with non-ASCII names, and
# three ZIPs small enough for NTFS to keep inside their records), and then
# a new, empty file system of the same kind is written over it (mkntfs -Q,
# mkfs.exfat, mkfs.fat: none of them clears the data area). Before the
# format, IMAGE.names gets the documents' paths as The Sleuth Kit lists them
# (fls -r -p), one per line, and IMAGE.files every document's path, size
# and SHA-256, tab-separated: the truth the tests compare against.
# The bench makes larger ones: SIZE (truncate's size, default 48M) and
# ROUNDS (copies of each document, default 2), and FILLER_MB (default 0):
# a file of that many random megabytes after each round, as the photos and
# videos between a user's documents.
# Needs root, a loop device for exFAT, /dev/fuse for NTFS, mtools for FAT
# and The Sleuth Kit.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
kind=$1
image=$2
data="$here/tests/data"
export LC_ALL=C.UTF-8

format() {
    case "$kind" in
    ntfs | ntfs-grown) mkntfs -F -Q -c 4096 -L "$1" "$image" >/dev/null 2>&1 ;;
    exfat) mkfs.exfat -c 4096 -L "$1" "$image" >/dev/null ;;
    fat32) mkfs.fat -F 32 -s 1 -n "$1" "$image" >/dev/null 2>&1 ;;
    fat16) mkfs.fat -F 16 -s 2 -n "$1" "$image" >/dev/null 2>&1 ;;
    fat12) mkfs.fat -F 12 -s 32 -n "$1" "$image" >/dev/null 2>&1 ;;
    *) echo "unknown kind $kind" >&2; exit 2 ;;
    esac
}

rm -f "$image" "$image.names" "$image.files"
truncate -s "${SIZE:-48M}" "$image"
format BEFORE

mnt=$(mktemp -d)
small=$(mktemp -d)
list=$(mktemp)
loop=""
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt" 2>/dev/null || fusermount -u "$mnt" || true; fi
    if [ -n "$loop" ]; then losetup -d "$loop" 2>/dev/null || true; fi
    rmdir "$mnt" 2>/dev/null || true
    rm -rf "$small" "$list"
}
trap cleanup EXIT
mt=(-i "$image")
case "$kind" in
ntfs | ntfs-grown) ntfs-3g "$image" "$mnt" ;;
exfat)
    if ! mount -t exfat -o loop "$image" "$mnt" 2>/dev/null; then
        loop=$(losetup -f --show "$image")
        mount.exfat-fuse "$loop" "$mnt" >/dev/null
    fi
    ;;
esac

# FAT is filled with mtools, the others through their mount.
mkd() {
    if [ "${kind#fat}" != "$kind" ]; then
        local path="" part parts
        IFS=/ read -ra parts <<<"$1"
        for part in "${parts[@]}"; do
            path="$path/$part"
            mmd "${mt[@]}" "::$path" 2>/dev/null || true
        done
    else
        mkdir -p "$mnt/$1"
    fi
}
put() {
    if [ "${kind#fat}" != "$kind" ]; then mcopy "${mt[@]}" "$1" "::/$2"; else cp "$1" "$mnt/$2"; fi
    printf '%s\t%s\t%s\n' "$2" "$(stat -c %s "$1")" "$(sha256sum "$1" | cut -d' ' -f1)" >>"$list"
}

folders=("论文/2024" "文档/子目录" "Old/Sub/Deep" "Keep")
for f in "${folders[@]}"; do mkd "$f"; done
# ntfs-grown: a volume used for a while, whose table grew out of the zone
# kept for it. The volume is filled, a hole is made away from the table, and
# empty files take the table into it; more room is then made for the
# documents, whose records go where the table grows next.
if [ "$kind" = ntfs-grown ]; then
    mkdir "$mnt/Fill" "$mnt/Pad"
    i=0
    while dd if=/dev/zero of="$mnt/Fill/$i" bs=1M count=2 status=none 2>/dev/null; do
        i=$((i + 1))
        [ "$i" -lt 64 ] || break
    done
    sync
    rm -f "$mnt/Fill/10" "$mnt/Fill/11"
    sync
    for p in $(seq 1 200); do : >"$mnt/Pad/$p"; done
    sync
    rm -f "$mnt/Fill/12" "$mnt/Fill/13" "$mnt/Fill/14" "$mnt/Fill/15"
    sync
fi
n=0
for round in $(seq 1 "${ROUNDS:-2}"); do
    for doc in "$data"/*.pdf "$data"/*.doc "$data"/*.xls "$data"/*.ppt "$data"/*.docx "$data"/*.xlsx "$data"/*.pptx \
        "$data"/*.zip; do
        folder=${folders[$((n % ${#folders[@]}))]}
        put "$doc" "$folder/第${round}份_$(basename "$doc")"
        n=$((n + 1))
    done
    if [ "${FILLER_MB:-0}" -gt 0 ]; then
        head -c "${FILLER_MB}M" /dev/urandom >"$small/filler"
        if [ "${kind#fat}" != "$kind" ]; then mcopy "${mt[@]}" "$small/filler" "::/Keep/filler$round.bin"; else cp "$small/filler" "$mnt/Keep/filler$round.bin"; fi
    fi
done
for i in 1 2 3; do
    python3 - "$small/便笺$i.zip" "$i" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    z.writestr("note%s.txt" % sys.argv[2], "A short note, number %s.\n" % sys.argv[2])
PY
    put "$small/便笺$i.zip" "Keep/便笺$i.zip"
done
if [ "${kind#fat}" != "$kind" ]; then mcopy "${mt[@]}" "$data/MANIFEST.tsv" ::/Keep/notes.txt; else cp "$data/MANIFEST.tsv" "$mnt/Keep/notes.txt"; fi
sync
sort "$list" >"$image.files"
if mountpoint -q "$mnt"; then umount "$mnt" 2>/dev/null || fusermount -u "$mnt"; fi
if [ -n "$loop" ]; then losetup -d "$loop"; loop=""; fi

# The truth for names, as a peer tool reads the volume before the format.
fls -r -p -F "$image" 2>/dev/null | sed -n 's/^r\/r [0-9-]*:\t//p' \
    | grep -v -e '^\$' -e 'notes.txt$' -e '(Volume Label Entry)$' -e 'filler[0-9]*.bin$' -e '^Fill/' -e '^Pad/' \
    | sort >"$image.names" || true

# The quick format: a new, empty file system over the old one.
format AFTER
