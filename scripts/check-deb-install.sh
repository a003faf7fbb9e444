#!/usr/bin/env bash
# check-deb-install.sh [DEB]: installs the Debian package on a fresh Debian 12
# and runs it there, as a user of a new machine would. A minimal bookworm
# root is made with debootstrap, the package is installed into it with
# `apt-get install ./tamsel_*.deb` (its Depends and Recommends come from the
# Debian mirror), and inside it: tamsel-cli --help, tamsel-cli scan and
# recover on the demo FAT32 image, and the window (offscreen) in English and
# in Chinese, which must keep running and find its resources in
# /usr/share/tamsel.
#
# Needs root and the network (the Debian mirror), so it is not part of
# ./test.sh. Without DEB, scripts/package.sh makes one. The root is made in
# a temporary folder and removed at the end; KEEP_ROOT=1 leaves it, and
# TAMSEL_DEB12_ROOT=DIR reuses (or makes) a root there, to repeat the check
# without a new debootstrap (the package is then reinstalled over it).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "check-deb-install: $*" >&2; exit 1; }
say() { echo "== $*"; }
[ "$(id -u)" = 0 ] || fail "run as root (debootstrap and chroot)"

if [ $# -ge 1 ]; then
    deb=$(readlink -f "$1")
else
    "$here/scripts/package.sh" >/dev/null
    deb=$(ls "$here"/build-package/tamsel_*.deb | tail -1)
fi
[ -f "$deb" ] || fail "no package: $deb"

command -v debootstrap >/dev/null || apt-get install -y debootstrap >/dev/null

# The mirror this machine installs from, else Debian's own.
mirror=$(grep -h -o -E '(URIs:|^deb)[[:space:]]+[^[:space:]]+/debian/?([[:space:]]|$)' \
             /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
         awk '{print $2}' | head -1 || true)
mirror=${mirror:-http://deb.debian.org/debian}
security=${mirror%/debian*}/debian-security

work=$(mktemp -d /var/tmp/tamsel-deb-check.XXXXXX)
root=${TAMSEL_DEB12_ROOT:-$work/root}
mounted=()
cleanup() {
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
    # Never remove a tree that still has the host's /proc or /sys in it.
    for m in "${mounted[@]}"; do
        if mountpoint -q "$m"; then
            echo "check-deb-install: $m is still mounted; $work is left in place" >&2
            return
        fi
    done
    if [ "${KEEP_ROOT:-0}" = 1 ] || [ -n "${TAMSEL_DEB12_ROOT:-}" ]; then
        echo "the Debian 12 root stays in $root"
        rm -rf "$work/demo.img"
        [ "$root" = "$work/root" ] || rm -rf "$work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

if [ ! -x "$root/usr/bin/apt-get" ]; then
    say "debootstrap --variant=minbase bookworm $root $mirror"
    debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
        { tail -30 "$work/debootstrap.log" >&2; fail "debootstrap failed"; }
fi
# What a new installation uses: the release, its updates and security.
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
mount -t proc proc "$root/proc" && mounted+=("$root/proc")
mount -t sysfs sysfs "$root/sys" && mounted+=("$root/sys")

in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}

say "apt-get install ./$(basename "$deb")"
rm -f "$root"/tmp/tamsel_*.deb
cp "$deb" "$root/tmp/"
in_root apt-get update -q >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get update failed"; }
in_root apt-get install -y -q --reinstall "/tmp/$(basename "$deb")" >>"$work/apt.log" 2>&1 ||
    { tail -40 "$work/apt.log" >&2; fail "apt-get install of the package failed"; }
echo "   packages set up: $(grep -c '^Setting up' "$work/apt.log" || true)"
in_root dpkg -s tamsel | grep -E '^(Version|Depends|Recommends):' | sed 's/^/   /'
in_root dpkg -L tamsel | grep -q '^/usr/share/tamsel/Resources/translations/tamsel_en.qm$' ||
    fail "the package holds no English catalogue"

say "tamsel-cli --help"
in_root tamsel-cli --help >"$work/help.txt" 2>&1 || { cat "$work/help.txt" >&2; fail "tamsel-cli --help failed"; }
grep -q "scan SOURCE" "$work/help.txt" || fail "tamsel-cli --help says nothing of scan"
head -3 "$work/help.txt" | sed 's/^/   /'

say "tamsel-cli scan and recover on the demo FAT32 image"
"$here/scripts/make-demo-image.sh" "$work/demo.img" >/dev/null
cp --sparse=always "$work/demo.img" "$root/tmp/demo.img"
in_root tamsel-cli scan /tmp/demo.img >"$work/scan.txt" 2>&1 || { cat "$work/scan.txt" >&2; fail "tamsel-cli scan failed"; }
tail -4 "$work/scan.txt" | sed 's/^/   /'
# A deleted short name has lost its first letter on FAT32.
for name in hesis.pdf ables.doc sheet.xlsx otes.zip; do
    grep -q "$name" "$work/scan.txt" || { cat "$work/scan.txt" >&2; fail "the scan does not list the deleted $name"; }
done
rm -rf "$root/tmp/recovered"
in_root tamsel-cli recover /tmp/demo.img /tmp/recovered >"$work/recover.txt" 2>&1 ||
    { cat "$work/recover.txt" >&2; fail "tamsel-cli recover failed"; }
count=$(find "$root/tmp/recovered" -type f ! -name '.*' ! -name 'report.xml' | wc -l)
[ "$count" -ge 4 ] || { cat "$work/recover.txt" >&2; fail "recover wrote $count documents"; }
echo "   recover wrote $count documents"
rm -rf "$root/tmp/recovered" "$root/tmp/demo.img"

# The window keeps running (timeout ends it: 124), without a word of missing
# resources, plugins or catalogues.
for lang in en zh; do
    say "tamsel (QT_QPA_PLATFORM=offscreen, TAMSEL_LANG=$lang)"
    set +e
    in_root /usr/bin/env QT_QPA_PLATFORM=offscreen TAMSEL_LANG=$lang timeout 8 tamsel >"$work/window-$lang.txt" 2>&1
    status=$?
    set -e
    [ "$status" = 124 ] || { cat "$work/window-$lang.txt" >&2; fail "the window ended with $status"; }
    if grep -E -i 'no Resources folder|could not|cannot|failed' "$work/window-$lang.txt" >&2; then
        fail "the window complained (above)"
    fi
    echo "   ran 8 s until stopped; said: $(tr '\n' ' ' <"$work/window-$lang.txt" | cut -c1-200)"
done
# The window on an X server in the root (Xvfb writes its screen into a file,
# an XWD picture): drawn through the xcb plugin with its images, style sheet
# and fonts. The pictures go to SHOT_DIR (default: beside the package).
shots=${SHOT_DIR:-$(dirname "$deb")}
say "tamsel on Xvfb in the root: pictures in $shots"
in_root apt-get install -y -q --no-install-recommends xvfb >>"$work/apt.log" 2>&1 ||
    { tail -20 "$work/apt.log" >&2; fail "xvfb could not be installed in the root"; }
for lang in en zh; do
    rm -rf "$root/tmp/fb" && mkdir -p "$root/tmp/fb"
    set +e
    in_root /bin/sh -c "Xvfb :7 -screen 0 1000x650x24 -fbdir /tmp/fb -nolisten tcp 2>/dev/null & x=\$!; sleep 2;
        DISPLAY=:7 TAMSEL_LANG=$lang timeout 8 tamsel & w=\$!; sleep 6; cp /tmp/fb/Xvfb_screen0 /tmp/fb/shot.xwd;
        wait \$w; s=\$?; kill \$x; wait \$x; exit \$s" >"$work/x11-$lang.txt" 2>&1
    status=$?
    set -e
    [ "$status" = 124 ] || { cat "$work/x11-$lang.txt" >&2; fail "the window on Xvfb ended with $status"; }
    ! grep -E -i 'no Resources folder|could not|cannot|failed' "$work/x11-$lang.txt" >&2 ||
        fail "the window on Xvfb complained (above)"
    python3 - "$root/tmp/fb/shot.xwd" "$shots/deb12-window-$lang.png" <<'PY'
# An XWD picture of a 24-bit TrueColor screen (32 bits a pixel) as a PNG.
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
h = struct.unpack(">25I", data[:100])
size, width, height, order, bpp, line, ncolors = h[0], h[4], h[5], h[7], h[11], h[12], h[19]
if bpp != 32:
    sys.exit("unexpected XWD: %d bits a pixel" % bpp)
pixels = data[size + 12 * ncolors:]
rows = bytearray()
for y in range(height):
    row = pixels[y * line:y * line + 4 * width]
    rows.append(0)
    for x in range(0, 4 * width, 4):
        p = row[x:x + 4] if order == 0 else row[x:x + 4][::-1]
        rows += bytes((p[2], p[1], p[0]))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
with open(sys.argv[2], "wb") as out:
    out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
              + chunk(b"IDAT", zlib.compress(bytes(rows))) + chunk(b"IEND", b""))
PY
    echo "   $shots/deb12-window-$lang.png"
done
rm -rf "$root/tmp/fb"

# Qt's own dialogs speak Chinese only with Qt's catalogue, and the Chinese
# window needs a font with Chinese characters.
in_root test -s /usr/share/qt5/translations/qtbase_zh_CN.qm || fail "Qt's Chinese catalogue was not installed"
in_root dpkg-query -W -f '${Status}\n' fonts-wqy-microhei fonts-noto-cjk 2>/dev/null | grep -q 'install ok installed' ||
    fail "no font with Chinese characters was installed"
echo "check-deb-install: $(basename "$deb") installs with apt-get on a fresh Debian 12 and runs"
