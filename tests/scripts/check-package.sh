#!/usr/bin/env bash
# check-package.sh BUILD_DIR: makes the .deb from BUILD_DIR with CPack,
# checks its Depends, unpacks it into a temporary root with dpkg -x and runs
# the programs from there: tamsel-cli --help, and the window (offscreen),
# which must find its resources in usr/share/tamsel. The menu entry and the
# AppStream file are validated as installed.
set -euo pipefail
build=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

cpack -G DEB -B "$tmp/out" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$tmp"/out/tamsel_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt5widgets5 libqt5dbus5 libqt5core5a libc6; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

root=$tmp/root
dpkg -x "$deb" "$root"
share=$root/usr/share
for f in applications/org.tamsel.Tamsel.desktop metainfo/org.tamsel.Tamsel.metainfo.xml \
         icons/hicolor/scalable/apps/tamsel.svg icons/hicolor/48x48/apps/tamsel.png \
         icons/hicolor/128x128/apps/tamsel.png icons/hicolor/256x256/apps/tamsel.png \
         tamsel/Resources/stylesheet.qss tamsel/Resources/scaning.gif doc/tamsel/copyright; do
    [ -s "$share/$f" ] || fail "the package lacks usr/share/$f"
done
[ ! -e "$share/tamsel/Resources/sources" ] || fail "the SVG sources were packaged"
# Hints too (two main categories would list the entry twice).
hints=$(desktop-file-validate "$share/applications/org.tamsel.Tamsel.desktop" 2>&1) || { echo "$hints" >&2; fail "desktop-file-validate failed"; }
[ -z "$hints" ] || fail "desktop-file-validate: $hints"
grep -q 'invalid' "$share/metainfo/org.tamsel.Tamsel.metainfo.xml" && fail "the AppStream file names a placeholder host"
appstreamcli validate --no-net "$share/metainfo/org.tamsel.Tamsel.metainfo.xml" >"$tmp/appstream.log" 2>&1 ||
    { cat "$tmp/appstream.log" >&2; fail "appstreamcli validate failed"; }
grep -q '^Exec=tamsel$' "$share/applications/org.tamsel.Tamsel.desktop" || fail "Exec does not run the window as the user"

"$root/usr/bin/tamsel-cli" --help >"$tmp/help.txt"
grep -q "scan SOURCE" "$tmp/help.txt" || fail "tamsel-cli --help from the package says nothing of scan"

# The window from the package keeps running (timeout ends it: 124) and
# finds its resources; the same program alone in a folder says that it
# does not, which shows that the first check can fail.
mkdir "$tmp/alone"
cp "$root/usr/bin/tamsel" "$tmp/alone/"
export QT_QPA_PLATFORM=offscreen
set +e
timeout 8 "$root/usr/bin/tamsel" 2>"$tmp/installed.err" &
installed=$!
timeout 8 "$tmp/alone/tamsel" 2>"$tmp/alone.err" &
alone=$!
wait $installed; installed_status=$?
wait $alone; alone_status=$?
set -e
[ "$installed_status" = 124 ] || { cat "$tmp/installed.err" >&2; fail "the installed window ended ($installed_status)"; }
[ "$alone_status" = 124 ] || { cat "$tmp/alone.err" >&2; fail "the lone window ended ($alone_status)"; }
! grep -q "no Resources folder" "$tmp/installed.err" || { cat "$tmp/installed.err" >&2; fail "the installed window did not find its resources"; }
grep -q "no Resources folder" "$tmp/alone.err" || { cat "$tmp/alone.err" >&2; fail "a window without resources did not say so"; }
echo "check-package: $(basename "$deb") installs and runs; Depends: $depends"
