#!/usr/bin/env bash
# The FAT32 pass over 100,000 entries against `fls -r`: bench/fs_pass.sh FAT32.
#
#   bench/fat32_pass.sh [--keep]
exec "$(dirname "$0")/fs_pass.sh" FAT32 "$@"
