#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice:
# a plain build in build/, then under AddressSanitizer and UBSan in build-asan/.
set -euo pipefail
cd "$(dirname "$0")"
export LC_ALL=C.UTF-8
export QT_QPA_PLATFORM=offscreen

scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

scripts/build.sh build
(cd build && ctest --output-on-failure -j "$jobs")

scripts/build.sh build-asan -DTAMSEL_SANITIZE=ON -DTAMSEL_BUILD_BENCH=OFF
(cd build-asan && ctest --output-on-failure -j "$jobs")
