#!/usr/bin/env bash
# Our scan against dd and the carving tools people use instead, side by side
# on one image, and the peak memory of our scan.
#
#   bench/compare_peers.sh [--keep]
#
# Builds the 2 GiB mixed image of bench/mixed_image.py (random, zero and
# document regions, documents from tests/data at 4096-byte boundaries) in
# $BENCH_DIR (default /tmp/tamsel-peers), reads it once so that every tool
# reads it from the page cache, then times $ROUNDS rounds (default 7) of:
#   dd bs=32M, tamsel-cli scan --fs none,
#   PhotoRec (PDF, ZIP and DOC/OLE, whole space, paranoid),
#   foremost -t pdf,ole,zip, scalpel with a configuration of the same types,
# (the peers in the first $PEER_ROUNDS rounds only, default 1), and prints
# the median MB/s of each, its ratio to ours and how many files
# each one wrote. Then it measures the maximum resident set size of our scan
# (/usr/bin/time -v) on the 2 GiB image and on an 8 GiB sparse image.
# The peers are installed with apt-get when missing. Everything is
# removed afterwards unless --keep is given (the image is then kept).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

keep=0
[ "${1:-}" = "--keep" ] && keep=1
rounds=${ROUNDS:-7}
peer_rounds=${PEER_ROUNDS:-1}
dir=${BENCH_DIR:-/tmp/tamsel-peers}
cli=$repo/build/bin/tamsel-cli
size_mib=2048

[ -x "$cli" ] || scripts/build.sh build >/dev/null

# The peers and GNU time, from Debian.
need=()
command -v photorec >/dev/null || need+=(testdisk)
command -v foremost >/dev/null || need+=(foremost)
command -v scalpel >/dev/null || need+=(scalpel)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
    echo "installing ${need[*]}" >&2
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" \
        >/dev/null
fi

mkdir -p "$dir"
img=$dir/mixed-2g.img
out=$dir/out
sparse=$dir/sparse.img

# The image, plus what the carvers write: each recovers every document of
# the image (a few hundred MiB at most), one tool at a time.
need_kib=$(( (size_mib + 1024) * 1024 ))
[ -f "$img" ] && need_kib=$(( 1024 * 1024 ))
free_kib=$(df -Pk "$dir" | awk 'NR==2 {print $4}')
if [ "$free_kib" -lt "$need_kib" ]; then
    echo "compare_peers: need $((need_kib / 1024)) MiB free in $dir, have $((free_kib / 1024)) MiB" >&2
    exit 1
fi

cleanup() {
    rm -rf "$out" "$sparse"
    [ "$keep" -eq 1 ] || rm -f "$img"
    rmdir "$dir" 2>/dev/null || true
}
trap cleanup EXIT

bench/ensure_mixed_image.sh "$img" "$size_mib"
bytes=$(stat -c %s "$img")

scalpel_conf=$dir/scalpel.conf
cat > "$scalpel_conf" <<'EOF'
pdf	y	5000000	%PDF	%EOF\x0d	REVERSE
pdf	y	5000000	%PDF	%EOF\x0a	REVERSE
doc	y	10000000	\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1\x00\x00	\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1\x00\x00	NEXT
zip	y	10000000	PK\x03\x04	\x3c\xac
EOF

# Each tool writes into a fresh $out/<tool>; the parent must exist (PhotoRec
# silently recovers nothing otherwise).
run_dd() { dd if="$img" of=/dev/null bs=32M; }
run_ours() { "$cli" scan --fs none "$img"; }
run_photorec() {
    mkdir -p "$out/photorec"
    (cd "$out" && photorec /log /d "$out/photorec/recup_dir" /cmd "$img" \
        partition_none,options,paranoid,fileopt,everything,disable,pdf,enable,zip,enable,doc,enable,wholespace,search)
}
run_foremost() { foremost -Q -t pdf,ole,zip -i "$img" -o "$out/foremost"; }
run_scalpel() { scalpel -c "$scalpel_conf" -o "$out/scalpel" "$img"; }

now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

# What a tool left: files it wrote (PhotoRec's log and report excepted), or
# for ours the documents it listed.
found_by() {
    case $1 in
        dd) echo "-" ;;
        ours) "$cli" scan --fs none --tsv "$img" 2>/dev/null | wc -l ;;
        *) { find "$out/$1" -type f ! -name '*.log' ! -name 'report.xml' ! -name 'audit.txt' 2>/dev/null || true; } \
               | wc -l ;;
    esac
}

tools=(dd ours photorec foremost scalpel)
declare -A rates rate files
cat "$img" > /dev/null
# Rounds interleave the tools, so that whatever else the machine does
# weighs on each of them alike; the peers, which take far longer, run in
# the first $peer_rounds round(s) only.
for round in $(seq "$rounds"); do
    for tool in "${tools[@]}"; do
        case $tool in dd|ours) ;; *) [ "$round" -le "$peer_rounds" ] || continue ;; esac
        rm -rf "$out"
        mkdir -p "$out"
        t0=$(now)
        "run_$tool" >/dev/null 2>&1 || { echo "compare_peers: $tool failed" >&2; exit 1; }
        t1=$(now)
        rates[$tool]+=" $(awk -v n="$bytes" -v a="$t0" -v b="$t1" 'BEGIN {print n / 1000000 / (b - a)}')"
        [ "$round" -eq 1 ] && files[$tool]=$(found_by "$tool")
        rm -rf "$out"
    done
done
for tool in "${tools[@]}"; do
    # shellcheck disable=SC2086
    rate[$tool]=$(median ${rates[$tool]})
done

echo
echo "$((bytes / 1024 / 1024)) MiB mixed image, page cache warm, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "median of $rounds interleaved round(s) for dd and ours, $peer_rounds for the peers"
printf '%-28s %12s %14s %10s\n' "tool" "MB/s" "ratio to ours" "files"
label() {
    case $1 in
        dd) echo "dd bs=32M" ;;
        ours) echo "tamsel-cli scan --fs none" ;;
        photorec) echo "PhotoRec $(photorec /version 2>/dev/null | awk 'NR==1 {sub(/,$/, "", $2); print $2}')" ;;
        foremost) echo "foremost -t pdf,ole,zip" ;;
        scalpel) echo "scalpel (pdf, doc, zip)" ;;
    esac
}
for tool in "${tools[@]}"; do
    printf '%-28s %12.1f %14.3f %10s\n' "$(label "$tool")" "${rate[$tool]}" \
        "$(awk -v a="${rate[$tool]}" -v b="${rate[ours]}" 'BEGIN {print a / b}')" "${files[$tool]}"
done
echo "ours / dd: $(awk -v a="${rate[ours]}" -v b="${rate[dd]}" 'BEGIN {printf "%.3f", a / b}')"

# Peak memory: the scan holds two reader windows and the open analysers,
# whatever the size of the volume.
peak_kib() {
    /usr/bin/time -v "$cli" scan --fs none "$1" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}'
}
echo
printf '%-28s %s\n' "image" "peak memory of tamsel-cli scan (MiB)"
printf '%-28s %.1f\n' "mixed 2 GiB" "$(awk -v k="$(peak_kib "$img")" 'BEGIN {print k / 1024}')"
for gib in 8; do
    rm -f "$sparse"
    truncate -s "${gib}G" "$sparse"
    printf '%-28s %.1f\n' "sparse $gib GiB" "$(awk -v k="$(peak_kib "$sparse")" 'BEGIN {print k / 1024}')"
done
