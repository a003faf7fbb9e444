#!/usr/bin/env bash
# package.sh [BUILD_DIR]: builds a release tree without tests and makes the
# Debian package tamsel_<version>_<arch>.deb in it with CPack. Its Depends
# come from dpkg-shlibdeps. Install with: sudo apt-get install ./tamsel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-package}
scripts/install-deps.sh
scripts/build.sh "$dir" -DCMAKE_BUILD_TYPE=Release -DTAMSEL_BUILD_TESTS=OFF -DTAMSEL_BUILD_BENCH=OFF
(cd "$dir" && cpack -G DEB >cpack.log 2>&1) || { tail -40 "$dir/cpack.log" >&2; exit 1; }
ls "$dir"/tamsel_*.deb
