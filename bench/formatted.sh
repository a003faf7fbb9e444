#!/usr/bin/env bash
# What the search for a formatted volume's old folders adds to a scan of
# the volume, against the scan without it; and what comes back, against
# The Sleuth Kit and PhotoRec on the same formatted image.
#
#   bench/formatted.sh [ntfs|ntfs-grown|exfat|fat32|fat16|fat12 ...]
#
# For each kind (default ntfs exfat fat32) it builds once (in $BENCH_DIR, default
# /tmp/tamsel-formatted) a quick-formatted volume with
# tests/scripts/make-formatted-volume.sh: SIZE (default 1G) with ROUNDS
# (default 40) copies of each of tests/data's documents in folders and a
# FILLER_MB (default 8) random file after each round. After one read that
# puts the image in the page cache it times, for $ROUNDS_TIMED rounds
# (default 3), build/bin/bench-filesystem-pass with and without the search
# (the pass alone) and `tamsel-cli scan` (the whole scan, the search in
# it), and prints the fastest of each and what the search adds as a share
# of the scan without it (the whole scan less the search's time). On FAT
# and exFAT the search looks at the carving pass's windows while they are
# carved, on another thread: there the pass's time with it is an upper
# bound of what it adds, and the plain scan's a lower one; set the whole
# scan beside that of a build before a change to compare.
#
# Then it recovers with tamsel-cli recover, tsk_recover -e (every file The
# Sleuth Kit reads on the new volume, allocated or not) and photorec (free
# space and whole, the document types only), and counts, against the
# documents written before the format: how many come back byte-identical,
# and how many of those under their own name.
set -euo pipefail
cd "$(dirname "$0")/.."

kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(ntfs exfat fat32)
dir=${BENCH_DIR:-/tmp/tamsel-formatted}
timed=${ROUNDS_TIMED:-3}
pass=build/bin/bench-filesystem-pass
cli=build/bin/tamsel-cli
[ -x "$pass" ] && [ -x "$cli" ] || { echo "formatted: build bench-filesystem-pass and tamsel-cli first" >&2; exit 1; }
mkdir -p "$dir"
export XDG_DATA_HOME="$dir/xdg"

# count FILES OUTDIR: "identical named total" of the documents in FILES
# (path, size, SHA-256) among the files under OUTDIR.
count() {
    python3 - "$1" "$2" <<'PY'
import hashlib, os, sys
truth = [l.rstrip("\n").split("\t") for l in open(sys.argv[1]) if l.strip()]
got = {}
for root, _, files in os.walk(sys.argv[2]):
    for f in files:
        with open(os.path.join(root, f), "rb") as h:
            got.setdefault(hashlib.sha256(h.read()).hexdigest(), set()).add(f)
same = sum(1 for _, _, h in truth if h in got)
named = sum(1 for p, _, h in truth if h in got and os.path.basename(p) in got[h])
print(same, named, len(truth))
PY
}

fastest() { sort -n | head -1; }

for kind in "${kinds[@]}"; do
    image="$dir/$kind.img"
    if [ ! -f "$image" ]; then
        SIZE=${SIZE:-1G} ROUNDS=${ROUNDS:-40} FILLER_MB=${FILLER_MB:-8} \
            bash tests/scripts/make-formatted-volume.sh "$kind" "$image"
    fi
    case $kind in ntfs*) fs=NTFS ;; exfat) fs=exFAT ;; *) fs=FAT32 ;; esac
    cat "$image" >/dev/null
    with=() without=() whole=()
    for _ in $(seq "$timed"); do
        with+=("$("$pass" "$fs" "$image" 1 | cut -d' ' -f1)")
        without+=("$("$pass" "$fs" "$image" 1 --no-former | cut -d' ' -f1)")
        start=$(date +%s.%N)
        "$cli" scan "$image" >/dev/null 2>&1
        whole+=("$(echo "$(date +%s.%N) - $start" | bc)")
    done
    w=$(printf '%s\n' "${with[@]}" | fastest)
    wo=$(printf '%s\n' "${without[@]}" | fastest)
    s=$(printf '%s\n' "${whole[@]}" | fastest)
    plain=$(echo "$s - ($w - $wo)" | bc)
    echo "$kind: pass with the search ${w} s, without ${wo} s; whole scan ${s} s, so ${plain} s without it;" \
        "the search adds $(echo "scale=3; ($w - $wo) / $plain" | bc) of the plain scan"

    rm -rf "$dir/out-$kind-"*
    "$cli" recover "$image" "$dir/out-$kind-tamsel" >/dev/null 2>&1 || true
    tsk_recover -e "$image" "$dir/out-$kind-tsk" >/dev/null 2>&1 || true
    for mode in freespace wholespace; do
        mkdir -p "$dir/out-$kind-photorec-$mode"
        (cd "$dir" && photorec /log /d "$dir/out-$kind-photorec-$mode/r" /cmd "$image" \
            "partition_none,options,paranoid,fileopt,everything,disable,pdf,enable,zip,enable,doc,enable,$mode,search" \
            >/dev/null 2>&1) || true
    done
    for tool in tamsel tsk photorec-freespace photorec-wholespace; do
        read -r same named total < <(count "$image.files" "$dir/out-$kind-$tool")
        echo "$kind: $tool: $same of $total byte-identical, $named of them by name"
    done
done
