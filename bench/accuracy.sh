#!/usr/bin/env bash
# Recovery accuracy against the peers, on images built from the real
# documents of the corpus (default ../shared/corpus, beside the repository):
#
#   bench/accuracy.sh [CORPUS_DIR]
#
# Images: the corpus at 4096-byte boundaries with zero slack after each
# document, and the same with older (random) bytes after each end (in both,
# one document lies across the 32 MiB window edge); a reused disk: a FAT32
# volume made by mkfs.fat over random bytes, the corpus copied onto it with
# mtools and half of it deleted, so that every file's last cluster keeps
# older bytes after its end; the same with the data area off the 4 KiB grid
# (mkfs.fat -a -R 37); and a whole disk with an MBR: that FAT32 volume at
# sector 63 holding half of the corpus, an NTFS one (ntfs-3g, so root) at a
# 1 MiB boundary holding the other half; and the NTFS volume of deleted
# documents that the tests build (tests/scripts/make-ntfs-deleted-volume.sh:
# nested non-ASCII folders, a fragmented PPT, a live PPTX; its documents come
# from tests/data); an exFAT volume (mkfs.exfat over random bytes, filled
# through exfat-fuse or the kernel's driver: the corpus in nested folders
# under Chinese names, every second document deleted) and an ext4 one
# (mkfs.ext4 -E nodiscard over random bytes, a loop mount, the same
# folders). Each image goes through `tamsel-cli recover` carving all of it
# (tamsel, --fs none) and reading its file systems in its default mode
# (tamsel-fs: deleted files by name, live documents left out by design, so
# they count as missed; the last column says whether it carved only the
# unused space or the whole source), PhotoRec carving the whole source
# (photorec) and, on the file-system images, only the space its file system
# leaves free (photorec-free), foremost, scalpel and The Sleuth Kit's
# tsk_recover -e (every file, live and deleted, by name; nothing on a raw
# image) (Debian packages testdisk, foremost, scalpel, sleuthkit,
# exfatprogs, exfat-fuse). For every tool it counts the documents recovered
# byte-identical (a PDF may end at its last "%%EOF"), truncated, extended,
# missed, the outputs that are no document of the image, and the documents
# recovered byte-identical under their original name.
# Work files go to $BENCH_DIR (default /tmp/tamsel-accuracy) and are removed.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=${1:-../shared/corpus}
[ -d "$corpus" ] || { echo "accuracy: no corpus at $corpus (give its folder as the first argument)" >&2; exit 1; }
work=${BENCH_DIR:-/tmp/tamsel-accuracy}
cli=build/bin/tamsel-cli
[ -x "$cli" ] || scripts/build.sh build >/dev/null
for tool in photorec foremost scalpel tsk_recover; do
    command -v "$tool" >/dev/null || { echo "accuracy: $tool is not installed (apt-get install testdisk foremost scalpel sleuthkit)" >&2; exit 1; }
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
    tamsel) "$cli" recover "$img" "$out" --fs none --allow-same-volume >/dev/null 2>&1 || true ;;
    tamsel-fs)
        # Our default: the unused space once a file system is read, else
        # the whole source; the summary says which.
        "$cli" recover "$img" "$out" --allow-same-volume > "$work/tamsel-fs.log" 2>&1 || true
        if grep -q "unused space only" "$work/tamsel-fs.log"; then mode=free; else mode=whole; fi ;;
    tsk_recover)
        mkdir -p "$out"
        # tsk_recover reads one file system: on a whole disk, each
        # partition mmls finds, at its start sector.
        local starts
        starts=$(mmls "$img" 2>/dev/null | awk '$3 ~ /^[0-9]+$/ && $6 !~ /Unallocated|Table|Extended/ && $2 ~ /^[0-9]/ {print $3 + 0}') || true
        if [ -z "$starts" ]; then
            tsk_recover -e "$img" "$out" >/dev/null 2>&1 || true
        else
            for s in $starts; do tsk_recover -e -o "$s" "$img" "$out/p$s" >/dev/null 2>&1 || true; done
        fi ;;
    photorec | photorec-free)
        mkdir -p "$out"
        local space=wholespace
        if [ "$tool" = photorec-free ]; then space=freespace; mode=free; else mode=whole; fi
        photorec /log /d "$out/recup_dir" /cmd "$img" \
            partition_none,options,paranoid,fileopt,everything,disable,pdf,enable,zip,enable,doc,enable,$space,search \
            >/dev/null 2>&1 || true
        rm -f photorec.log ;;
    foremost) foremost -Q -t pdf,ole,zip -i "$img" -o "$out" >/dev/null 2>&1 || true ;;
    scalpel) scalpel -c "$work/scalpel.conf" -o "$out" "$img" >/dev/null 2>&1 || true ;;
    esac
}

printf '%-24s %-13s %9s %9s %8s %6s %6s %6s %s\n' image tool identical truncated extended missed extra named mode
# fat32_volume IMAGE SELECT [mkfs.fat options...]: a FAT32 volume made over
# older (random) bytes, the corpus documents picked by SELECT (all, even,
# odd: by their place in the manifest) copied in with mtools, and every
# second one of them deleted.
fat32_volume() {
    local img=$1 select=$2 i=0 n=0
    shift 2
    # Older bytes where the files will go; the rest of the 300 MiB (4 KiB
    # clusters need 65525 of them) stays sparse.
    head -c $((64 * 1024 * 1024)) /dev/urandom > "$img"
    truncate -s 300M "$img"
    mkfs.fat -F 32 -s 8 -n REUSED "$@" "$img" >/dev/null
    export MTOOLS_SKIP_CHECK=1
    mmd -i "$img" ::/docs
    for f in $(cut -f1 "$corpus/MANIFEST.tsv" | tail -n +2); do
        n=$((n + 1))
        case $select in even) [ $((n % 2)) -eq 0 ] || continue ;; odd) [ $((n % 2)) -eq 1 ] || continue ;; esac
        mcopy -i "$img" "$corpus/$f" "::/docs/$f"
        i=$((i + 1))
        if [ $((i % 2)) -eq 0 ]; then mdel -i "$img" "::/docs/$f"; fi
    done
}

# ntfs_volume IMAGE SELECT: the same on NTFS, through an ntfs-3g mount.
ntfs_volume() {
    local img=$1 select=$2 i=0 n=0 mnt
    head -c $((64 * 1024 * 1024)) /dev/urandom > "$img"
    mkntfs -F -Q -c 4096 -L REUSED "$img" >/dev/null 2>&1
    mnt=$(mktemp -d)
    ntfs-3g "$img" "$mnt"
    mkdir "$mnt/docs"
    for f in $(cut -f1 "$corpus/MANIFEST.tsv" | tail -n +2); do
        n=$((n + 1))
        case $select in even) [ $((n % 2)) -eq 0 ] || continue ;; odd) [ $((n % 2)) -eq 1 ] || continue ;; esac
        cp "$corpus/$f" "$mnt/docs/$f"
        i=$((i + 1))
        if [ $((i % 2)) -eq 0 ]; then sync; rm "$mnt/docs/$f"; fi
    done
    umount "$mnt"
    rmdir "$mnt"
}

# mbr_disk IMAGE: a whole disk as Windows XP partitioned it: FAT32 at
# sector 63 (half the corpus), NTFS at a 1 MiB boundary (the other half).
mbr_disk() {
    local img=$1 fat=$work/part-fat32.img ntfs=$work/part-ntfs.img
    fat32_volume "$fat" odd
    ntfs_volume "$ntfs" even
    local fat_sectors=$(( $(stat -c %s "$fat") / 512 )) ntfs_sectors=$(( $(stat -c %s "$ntfs") / 512 ))
    local ntfs_start=$(( (63 + fat_sectors + 2047) / 2048 * 2048 ))
    truncate -s $(( (ntfs_start + ntfs_sectors + 2048) * 512 )) "$img"
    printf 'label: dos\nunit: sectors\nstart=63, size=%d, type=c\nstart=%d, size=%d, type=7\n' \
        "$fat_sectors" "$ntfs_start" "$ntfs_sectors" | sfdisk --quiet --no-reread --no-tell-kernel "$img" >/dev/null
    dd if="$fat" of="$img" bs=512 seek=63 conv=notrunc,sparse status=none
    dd if="$ntfs" of="$img" bs=512 seek="$ntfs_start" conv=notrunc,sparse status=none
    rm -f "$fat" "$ntfs"
}

# mounted_volume IMAGE exFAT|EXT4: a volume made over older (random) bytes
# and filled through a mount: every corpus document in one of three nested
# folders, under a Chinese name on exFAT ("报告-" before the file's own),
# and then every second one deleted. Writes the names to $IMAGE.names (file, name).
mounted_volume() {
    local img=$1 fs=$2 i=0 mnt loop="" name dir
    head -c $((64 * 1024 * 1024)) /dev/urandom > "$img"
    truncate -s 128M "$img"
    if [ "$fs" = exFAT ]; then
        mkfs.exfat -c 4096 -L REUSED "$img" >/dev/null
    else
        mkfs.ext4 -q -F -b 4096 -E nodiscard,lazy_itable_init=0 -L REUSED "$img"
    fi
    mnt=$(mktemp -d)
    if [ "$fs" = EXT4 ]; then
        mount -t ext4 -o loop "$img" "$mnt"
    elif ! mount -t exfat -o loop "$img" "$mnt" 2>/dev/null; then
        loop=$(losetup -f --show "$img")
        mount.exfat-fuse "$loop" "$mnt" >/dev/null
    fi
    : > "$img.names"
    : > "$img.gone"
    for f in $(cut -f1 "$corpus/MANIFEST.tsv" | tail -n +2); do
        i=$((i + 1))
        if [ "$fs" = exFAT ]; then
            dir="$mnt/资料/第$((i % 3))组/旧文件"
            name="报告-$f"
        else
            dir="$mnt/docs/group$((i % 3))/old"
            name=$f
        fi
        mkdir -p "$dir"
        cp "$corpus/$f" "$dir/$name"
        printf '%s\t%s\n' "$f" "$name" >> "$img.names"
        if [ $((i % 2)) -eq 0 ]; then printf '%s\n' "$dir/$name" >> "$img.gone"; fi
    done
    # Deleted once all are written: both drivers would give the next file
    # the clusters just freed.
    sync
    xargs -d '\n' rm < "$img.gone"
    sync
    umount "$mnt" 2>/dev/null || fusermount -u "$mnt"
    if [ -n "$loop" ]; then losetup -d "$loop"; fi
    rmdir "$mnt"
}

# ntfs_deleted IMAGE EXPECTED: the tests' NTFS volume of deleted documents.
# The documents expected are those of tests/data that it holds whole (the
# overwritten one and the small ZIP made on the fly are not counted); the
# fragmented PPT is not contiguous, so a carver can only cut it short.
ntfs_deleted() {
    tests/scripts/make-ntfs-deleted-volume.sh "$1" >/dev/null 2>&1
    printf '0\t%s\t0\t%s\t%s\n' DOCX docx_python-docx.docx 毕业论文终稿.docx PDF pdf_lo_writer_text.pdf résumé.pdf \
        DOCX docx_lo_short.docx backup.bak XLS xls_3sheets.xls budget.xls PDF pdf_ghostscript.pdf plan.pdf \
        PPTX pptx_lo_3slides.pptx live.pptx PPT ppt_2slides.ppt fragmented.ppt > "$2"
}

for kind in zero random fat32 unaligned mbr ntfs exfat ext4; do
    img="$work/$kind.img"
    docs=$corpus
    case $kind in
    ntfs) ntfs_deleted "$img" "$work/$kind.tsv"; docs=tests/data; label="NTFS deleted" ;;
    fat32) fat32_volume "$img" all; label="reused FAT32" ;;
    unaligned) fat32_volume "$img" all -a -R 37; label="unaligned FAT32" ;;
    mbr) mbr_disk "$img"; label="MBR disk" ;;
    exfat) mounted_volume "$img" exFAT; label="exFAT CJK names" ;;
    ext4) mounted_volume "$img" EXT4; label="ext4" ;;
    *) python3 bench/corpus_image.py "$img" "$work/$kind.tsv" "$corpus" --slack "$kind" 2>/dev/null; label="$kind slack" ;;
    esac
    case $kind in fat32 | unaligned | mbr | exfat | ext4) python3 bench/locate_documents.py "$img" "$corpus" "$work/$kind.tsv" 2>/dev/null ;; esac
    # The names the documents had on the volume, as a fifth column.
    if [ -f "$img.names" ]; then
        awk -F'\t' 'NR == FNR {name[$1] = $2; next} {print $0 "\t" name[$4]}' "$img.names" "$work/$kind.tsv" > "$work/$kind.named"
        mv "$work/$kind.named" "$work/$kind.tsv"
    fi
    tools="tamsel tamsel-fs photorec foremost scalpel tsk_recover"
    case $kind in zero | random) ;; *) tools="tamsel tamsel-fs photorec photorec-free foremost scalpel tsk_recover" ;; esac
    slack=$kind
    total=$(wc -l < "$work/$kind.tsv")
    for tool in $tools; do
        out="$work/out-$slack-$tool"
        mode=-
        case $tool in tamsel) mode=whole ;; esac
        run_tool "$tool" "$img" "$out"
        read -r same short long missed extra named < <(python3 bench/accuracy_compare.py "$work/$slack.tsv" "$docs" "$out")
        printf '%-24s %-13s %6s/%-2s %9s %8s %6s %6s %6s %s\n' "$total docs, $label" "$tool" "$same" "$total" "$short" "$long" "$missed" "$extra" "$named" "$mode"
        rm -rf "$out"
    done
done
