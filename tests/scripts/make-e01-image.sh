#!/usr/bin/env bash
# make-e01-image.sh RAW TARGET [SEGMENT_BYTES]: acquires the raw image RAW
# into the Expert Witness image TARGET.E01 (and TARGET.E02, ... when
# SEGMENT_BYTES cuts it into a segment set) with ewfacquire, with its MD5
# and SHA1 stored, non-interactively: compressed, or, for a segment set,
# stored as it is (so that a small volume still needs several segments).
# Needs ewf-tools.
set -euo pipefail
raw=$1
target=$2
segment=${3:-}
rm -f "$target".E?? "$target".e??
args=(-u -q -t "$target" -c deflate:fast -d sha1 -C case -D volume -e examiner -E 1 -N notes -m fixed -M physical)
[ -z "$segment" ] || args+=(-S "$segment" -c none)
ewfacquire "${args[@]}" "$raw" >/dev/null
ls "$target".E01 >/dev/null
