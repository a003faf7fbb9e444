#!/usr/bin/env bash
# make-fat32-orphan-volume.sh IMAGE: a FAT32 volume (mkfs.fat, mtools, no
# mount) holding a lost chain, as a crash or an unplugged stick leaves one:
# the directory entry of LOST.PDF is zeroed while its clusters stay
# allocated in the FAT, so no entry reaches them. A live document and a live
# file of no interest stay beside it. The image is sparse.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
data="$here/tests/data"
export MTOOLS_SKIP_CHECK=1

rm -f "$image"
truncate -s 272M "$image"
mkfs.fat -F 32 -s 8 -n ORPHANS "$image" >/dev/null

i=(-i "$image")
mcopy "${i[@]}" "$data/docx_lo_short.docx" ::/LIVE.DOCX
mcopy "${i[@]}" "$data/MANIFEST.tsv" ::/NOTES.TXT
# The last entry of the root: zeroed, it reads as the directory's end.
mcopy "${i[@]}" "$data/pdf_ghostscript.pdf" ::/LOST.PDF

python3 - "$image" <<'PY'
import struct, sys
path = sys.argv[1]
with open(path, "r+b") as f:
    boot = f.read(512)
    bps, spc = struct.unpack_from("<HB", boot, 11)
    reserved, fats = struct.unpack_from("<HB", boot, 14)
    fat_sectors, root = struct.unpack_from("<I", boot, 36)[0], struct.unpack_from("<I", boot, 44)[0]
    root_at = (reserved + fats * fat_sectors + (root - 2) * spc) * bps
    f.seek(root_at)
    cluster = f.read(bps * spc)
    at = cluster.find(b"LOST    PDF")
    assert at >= 0 and at % 32 == 0, "LOST.PDF is not in the root's first cluster"
    f.seek(root_at + at)
    f.write(b"\0" * 32)
PY
