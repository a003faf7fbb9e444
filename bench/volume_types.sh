#!/usr/bin/env bash
# What comes back from each kind of volume people bring, against The Sleuth
# Kit and PhotoRec on the same image.
#
#   sudo bench/volume_types.sh [KIND ...]
#
# KIND is fat16, fat12, ntfs-compressed, deleted-partition, formatted-fat32,
# formatted-fat16, formatted-exfat, formatted-ntfs or e01 (default: all).
# Each image is built once, in $BENCH_DIR (default /tmp/tamsel-volume-types),
# by the test suite's own scripts:
#   fat16, fat12        tests/scripts/make-fat16-volume.sh IMAGE 16|12
#   ntfs-compressed     tests/scripts/make-ntfs-compressed-volume.sh
#   deleted-partition   tests/scripts/make-lost-partition-disk.sh IMAGE gpt
#                       (the FAT32 volume of make-fat32-volume.sh, removed
#                       from a GPT with sgdisk -d)
#   formatted-KIND      tests/scripts/make-formatted-volume.sh KIND IMAGE
#                       (SIZE and ROUNDS as that script takes them)
# The documents that should come back are the ones the build script copied
# onto the volume: for the formatted volumes the list it writes (IMAGE.files),
# for the others the tests/data file of each of its copy lines (mcopy or cp),
# under the name it gave. A document counts as live when The Sleuth Kit lists
# its path as allocated on the finished image (fls -u); every document of a
# deleted partition or a formatted volume is lost. (The sparse file of the
# NTFS volume is no copy of a document and is left out; its victim.xls is
# overwritten on purpose and cannot come back.)
#
# Each image is recovered by tamsel-cli recover, tsk_recover (deleted files
# only, its default, and -e, every file it reads; on the deleted partition
# also pointed by hand at the FAT32 boot sector in the space no partition
# covers, with -o) and PhotoRec (/cmd IMAGE partition_none,fileopt,everything,
# enable,freespace|wholespace,search). One row per volume and tool:
#   identical  lost documents written byte-identical (SHA-256) / all lost ones
#   named      of those, written under their own file name
#   wrong      lost documents whose name is on a file that is not their bytes
#   live       live documents written (a live file is no lost document) /
#              the live documents on the volume
# Bytes that are both a live and a lost document count as the lost one first.
#
# e01: the FAT16 volume and the deleted-partition disk acquired into E01
# images (tests/scripts/make-e01-image.sh, one compressed and one a segment
# set), and whether `tamsel-cli scan --json` lists the same documents for the
# E01 as for the raw image.
#
# Needs root (ntfs-3g and exFAT mounts in the build scripts), mtools, ntfs-3g,
# exfatprogs, sgdisk, The Sleuth Kit, testdisk (photorec) and ewf-tools.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$(pwd)

kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(fat16 fat12 ntfs-compressed deleted-partition formatted-fat32 formatted-fat16
    formatted-exfat formatted-ntfs e01)
dir=${BENCH_DIR:-/tmp/tamsel-volume-types}
cli=$here/build/bin/tamsel-cli
[ -x "$cli" ] || { echo "volume_types: build tamsel-cli first (cmake --build build --target tamsel-cli)" >&2; exit 1; }
for tool in tsk_recover fls mmls photorec ewfacquire; do
    command -v "$tool" >/dev/null || { echo "volume_types: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
mkdir -p "$dir"
export XDG_DATA_HOME="$dir/xdg"
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8

# truth SCRIPT IMAGE ALL_LOST [OFFSET] > TRUTH: one line per document the
# build script copied onto the volume: live|lost, its path, its SHA-256.
truth() {
    local script=$1 image=$2 all_lost=$3 offset=${4:-}
    local live
    live=$(mktemp)
    if [ "$all_lost" = 0 ]; then
        fls -r -p -u ${offset:+-o "$offset"} "$image" 2>/dev/null | sed -n 's/^r\/r [0-9-]*:\t//p' >"$live" || true
    fi
    python3 - "$script" "$here/tests/data" "$live" <<'PY'
import hashlib, re, sys
script, data, live_list = sys.argv[1:4]
docs = (".pdf", ".zip", ".doc", ".xls", ".ppt", ".docx", ".xlsx", ".pptx")
live = {l.rstrip("\n") for l in open(live_list, encoding="utf-8", errors="replace")}
# mcopy "${i[@]}" "$data/SOURCE" ::/PATH (or "::/PATH"), cp "$data/SOURCE" "$mnt/PATH"
copy = re.compile(r'^\s*(?:mcopy "\$\{i\[@\]\}"|cp) "\$data/([^"]+)" "?(?:::|\$mnt)/([^"]+?)"?\s*$')
seen = {}
for line in open(script, encoding="utf-8"):
    m = copy.match(line)
    if m and m.group(1).lower().endswith(docs):
        seen[m.group(2)] = hashlib.sha256(open(data + "/" + m.group(1), "rb").read()).hexdigest()
for path, digest in sorted(seen.items()):
    print("live" if path in live else "lost", path, digest, sep="\t")
PY
    rm -f "$live"
}

# count TRUTH OUTDIR: "identical named lost live_written live wrong" of the
# documents in TRUTH among the files under OUTDIR.
count() {
    python3 - "$1" "$2" <<'PY'
import collections, hashlib, os, sys
truth = [l.rstrip("\n").split("\t") for l in open(sys.argv[1], encoding="utf-8") if l.strip()]
names = collections.defaultdict(list)
written = collections.defaultdict(set)
for root, _, files in os.walk(sys.argv[2]):
    for f in files:
        path = os.path.join(root, f)
        if os.path.islink(path) or not os.path.isfile(path):
            continue
        h = hashlib.sha256()
        with open(path, "rb") as fh:
            for block in iter(lambda: fh.read(1 << 20), b""):
                h.update(block)
        names[h.hexdigest()].append(f)
        written[f].add(h.hexdigest())
lost = [(p, d) for s, p, d in truth if s == "lost"]
live = [(p, d) for s, p, d in truth if s == "live"]
# Several documents may share their bytes (copies under other names): each
# written file stands for one of them, under its own name where it has one.
identical = named = 0
left = {d: list(n) for d, n in names.items()}
unnamed = []
for path, digest in lost:
    base = os.path.basename(path)
    if base in left.get(digest, []):
        left[digest].remove(base)
        identical += 1
        named += 1
    else:
        unnamed.append(digest)
for digest in unnamed:
    if left.get(digest):
        left[digest].pop()
        identical += 1
live_written = 0
for path, digest in live:
    got = left.get(digest)
    if got:
        live_written += 1
        got.pop()
# A lost document's name on a file that is not its bytes: what a user would
# open and find broken.
wrong = sum(1 for path, digest in lost if written.get(os.path.basename(path), set()) - {digest})
print(identical, named, len(lost), live_written, len(live), wrong)
PY
}

rows=()
# row VOLUME TOOL TRUTH OUTDIR
row() {
    local identical named lost live_written live wrong
    read -r identical named lost live_written live wrong < <(count "$3" "$4")
    rows+=("$(printf '%-20s %-30s %5s / %-5s %5s  %5s      %s' "$1" "$2" "$identical" "$lost" "$named" "$wrong" \
        "$( [ "$live" -gt 0 ] && echo "$live_written / $live" || echo "-" )")")
}

# recover_all VOLUME IMAGE TRUTH [OFFSET]: every tool on IMAGE, one row each.
recover_all() {
    local volume=$1 image=$2 truthfile=$3 offset=${4:-}
    local out="$dir/out-$volume"
    rm -rf "$out"
    mkdir -p "$out"
    "$cli" recover "$image" "$out/tamsel" >"$out/tamsel.log" 2>&1 || true
    row "$volume" "tamsel-cli recover" "$truthfile" "$out/tamsel"
    tsk_recover "$image" "$out/tsk" >/dev/null 2>&1 || true
    row "$volume" "tsk_recover" "$truthfile" "$out/tsk"
    tsk_recover -e "$image" "$out/tsk-e" >/dev/null 2>&1 || true
    row "$volume" "tsk_recover -e" "$truthfile" "$out/tsk-e"
    if [ -n "$offset" ]; then
        tsk_recover -e -o "$offset" "$image" "$out/tsk-e-o" >/dev/null 2>&1 || true
        row "$volume" "tsk_recover -e -o $offset" "$truthfile" "$out/tsk-e-o"
    fi
    local mode
    for mode in freespace wholespace; do
        mkdir -p "$out/photorec-$mode"
        (cd "$out" && photorec /log /d "$out/photorec-$mode/r" /cmd "$image" \
            "partition_none,fileopt,everything,enable,$mode,search" >/dev/null 2>&1) || true
        row "$volume" "photorec $mode" "$truthfile" "$out/photorec-$mode"
    done
}

# fat_boot_sector IMAGE: the sector of the first FAT32 boot sector in the
# space the partition table leaves unallocated, as one looks for it by hand.
fat_boot_sector() {
    python3 - "$1" <(mmls "$1" 2>/dev/null) <<'PY'
import re, sys
image, table = sys.argv[1:3]
gaps = []
for line in open(table):
    m = re.match(r'\s*\d+:\s+\S+\s+(\d+)\s+(\d+)\s+\d+\s+Unallocated', line)
    if m:
        gaps.append((int(m.group(1)), int(m.group(2))))
with open(image, "rb") as f:
    for first, last in gaps:
        for sector in range(first, min(last, first + (1 << 20)) + 1):
            f.seek(sector * 512)
            s = f.read(512)
            if len(s) == 512 and s[510:512] == b"\x55\xaa" and s[82:87] == b"FAT32":
                print(sector)
                sys.exit(0)
PY
}

e01_compare() {
    local name=$1 image=$2 segment=${3:-}
    local target="$dir/e01-$name"
    tests/scripts/make-e01-image.sh "$image" "$target" ${segment:+"$segment"}
    "$cli" scan "$image" --json 2>/dev/null | sort >"$dir/$name-raw.json" || true
    "$cli" scan "$target.E01" --json 2>/dev/null | sort >"$dir/$name-e01.json" || true
    local segments same=no
    segments=$(find "$dir" -maxdepth 1 -name "e01-$name.E??" | wc -l)
    cmp -s "$dir/$name-raw.json" "$dir/$name-e01.json" && same=yes
    echo "e01: $name ($segments segment(s)): same scan --json list as the raw image: $same" \
        "($(wc -l <"$dir/$name-raw.json") raw, $(wc -l <"$dir/$name-e01.json") E01)"
}

# made IMAGE SCRIPT ARGS...: builds IMAGE with the test script once (IMAGE.made
# marks a build that finished). A build that fails is said and its leftovers
# removed, and the other kinds go on.
made() {
    local image=$1
    shift
    [ -f "$image.made" ] && return 0
    rm -f "$image" "$image".*
    if bash "$@" >"$dir/build.log" 2>&1; then
        touch "$image.made"
        return 0
    fi
    echo "volume_types: $* failed (SIZE or ROUNDS too large for the kind?):" >&2
    tail -5 "$dir/build.log" >&2
    rm -f "$image" "$image".*
    return 1
}

e01_lines=()
for kind in "${kinds[@]}"; do
    image="$dir/$kind.img"
    case $kind in
    fat16 | fat12)
        made "$image" tests/scripts/make-fat16-volume.sh "$image" "${kind#fat}" || continue
        truth tests/scripts/make-fat16-volume.sh "$image" 0 >"$image.truth"
        recover_all "$kind" "$image" "$image.truth"
        ;;
    ntfs-compressed)
        made "$image" tests/scripts/make-ntfs-compressed-volume.sh "$image" || continue
        truth tests/scripts/make-ntfs-compressed-volume.sh "$image" 0 >"$image.truth"
        recover_all "$kind" "$image" "$image.truth"
        ;;
    deleted-partition)
        made "$image" tests/scripts/make-lost-partition-disk.sh "$image" gpt || continue
        truth tests/scripts/make-fat32-volume.sh "$image" 1 >"$image.truth"
        offset=$(fat_boot_sector "$image")
        [ -n "$offset" ] || echo "volume_types: no FAT32 boot sector in $image's unallocated space" >&2
        recover_all "$kind" "$image" "$image.truth" "$offset"
        ;;
    formatted-*)
        fs=${kind#formatted-}
        made "$image" tests/scripts/make-formatted-volume.sh "$fs" "$image" || continue
        awk -F'\t' '{ print "lost\t" $1 "\t" $3 }' "$image.files" >"$image.truth"
        recover_all "$kind" "$image" "$image.truth"
        ;;
    e01)
        fat16="$dir/fat16.img"
        made "$fat16" tests/scripts/make-fat16-volume.sh "$fat16" 16 || continue
        disk="$dir/deleted-partition.img"
        made "$disk" tests/scripts/make-lost-partition-disk.sh "$disk" gpt || continue
        e01_lines+=("$(e01_compare fat16 "$fat16" 8M)")
        e01_lines+=("$(e01_compare deleted-partition "$disk")")
        ;;
    *) echo "volume_types: unknown kind $kind" >&2; exit 2 ;;
    esac
done

if [ ${#rows[@]} -gt 0 ]; then
    printf '%-20s %-30s %-13s %-6s %-10s %s\n' volume tool identical named "wrong" live
    printf '%s\n' "${rows[@]}"
fi
[ ${#e01_lines[@]} -eq 0 ] || printf '%s\n' "${e01_lines[@]}"
