#!/usr/bin/env bash
# check-fragmented-recovery.sh BUILD_DIR: lays the documents of tests/data
# down whole and in two and three pieces on a raw image
# (make-fragmented-image.py), recovers it with tamsel-cli and checks that
# every whole one and enough of those in pieces come back byte-identical,
# and that nothing else is called whole (check-fragmented-image.py).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
work=$(mktemp -d "$build/fragmented.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$here/make-fragmented-image.py" "$work/image" "$work/manifest" --seed 24
XDG_DATA_HOME=$work/xdg python3 "$here/check-fragmented-image.py" "$build/bin/tamsel-cli" "$work/image" \
    "$work/manifest" "$work/out" --table --types "${TYPES:-ZIP,DOCX,XLSX,PPTX,PDF,DOC,XLS,PPT}" --min-two 0.8 --min-three 0.5
