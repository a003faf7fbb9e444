#!/usr/bin/env bash
# make-ntfs-deleted-volume.sh IMAGE: builds a small NTFS volume (4096-byte
# clusters) through an ntfs-3g mount whose deleted documents test what a
# deleted record still tells:
#   - documents in nested folders with non-ASCII names, deleted;
#   - a DOCX under the name backup.bak, deleted;
#   - a ZIP small enough to live inside its record, deleted;
#   - a folder holding documents, deleted with them;
#   - a PPT written into two holes of a full volume (two fragments), deleted;
#   - a DOCX deleted on the full volume and then overwritten by a new file.
# A live document and a live file of no interest stay. Needs root and
# /dev/fuse for the mount, python3 for the small ZIP.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
data="$here/tests/data"

rm -f "$image"
truncate -s 24M "$image"
mkntfs -F -Q -c 4096 -L DELETED "$image" >/dev/null 2>&1

mnt=$(mktemp -d)
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt" || fusermount -u "$mnt" || true; fi
    rmdir "$mnt" 2>/dev/null || true
}
trap cleanup EXIT
ntfs-3g "$image" "$mnt"

mkdir -p "$mnt/论文/2024" "$mnt/Docs/Ünïcode" "$mnt/Old/Sub" "$mnt/Keep"
cp "$data/docx_python-docx.docx" "$mnt/论文/2024/毕业论文终稿.docx"
cp "$data/pdf_lo_writer_text.pdf" "$mnt/Docs/Ünïcode/résumé.pdf"
cp "$data/docx_lo_short.docx" "$mnt/Docs/backup.bak"
python3 - "$mnt/Docs/便笺.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    z.writestr("note.txt", "A note small enough to stay inside its record.\n")
PY
cp "$data/xls_3sheets.xls" "$mnt/Old/budget.xls"
cp "$data/pdf_ghostscript.pdf" "$mnt/Old/Sub/plan.pdf"
cp "$data/pptx_lo_3slides.pptx" "$mnt/Keep/live.pptx"
cp "$data/MANIFEST.tsv" "$mnt/Keep/notes.txt"
cp "$data/xlsx_xlsxwriter.xlsx" "$mnt/Docs/victim.docx"
# Records for the files written once the volume is full.
touch "$mnt/Docs/fragmented.ppt" "$mnt/Keep/reuse.bin"
sync

# Fill the volume: 256 KiB fillers, then whatever is left.
i=0
while dd if=/dev/zero of="$mnt/fill_$i" bs=256k count=1 status=none 2>/dev/null; do
    i=$((i + 1))
    [ "$i" -lt 200 ] || break
done
dd if=/dev/zero of="$mnt/fill_last" bs=4096 status=none 2>/dev/null || true
sync

# The victim's clusters are the only free ones: the new file takes them.
rm "$mnt/Docs/victim.docx"
sync
dd if=/dev/urandom of="$mnt/Keep/reuse.bin" bs=4096 status=none 2>/dev/null || true
sync

# Two holes apart from each other; the PPT needs both.
rm "$mnt/fill_3" "$mnt/fill_9"
sync
cat "$data/ppt_2slides.ppt" > "$mnt/Docs/fragmented.ppt"
sync
rm "$mnt/Docs/fragmented.ppt"

rm "$mnt/论文/2024/毕业论文终稿.docx" "$mnt/Docs/Ünïcode/résumé.pdf" "$mnt/Docs/backup.bak" "$mnt/Docs/便笺.zip"
rm -r "$mnt/Old"
sync
