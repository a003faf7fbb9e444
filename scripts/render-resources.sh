#!/usr/bin/env bash
# render-resources.sh: draws the window's images from their SVG sources in
# Resources/sources. The rendered files are committed, so building never
# needs this; run it after changing a source.
# Needs rsvg-convert (librsvg2-bin) and ImageMagick (imagemagick).
set -euo pipefail
cd "$(dirname "$0")/../Resources"
src=sources
magick=/usr/bin/convert-im6.q16
[ -x "$magick" ] || magick=$(command -v convert)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

png() { rsvg-convert -w "$2" -h "$3" "$src/$1.svg" -o "$1.png"; }

png orvikloge 128 128
png about 64 64
png help 64 64
png Money 64 64
png QQ 64 64
png wechat 64 64
png diskPartion 64 64
png folder 32 32
png zip 32 32
png xlsx 32 32
png pdf 32 32
# The cards carry words: each has an English twin (NAME_en), which the
# window shows when it speaks English.
for lang in "" _en; do
    png webpay$lang 160 197
    png alipay$lang 160 197
    png qqadd$lang 250 300
    png addwebchant$lang 250 300
done
for b in close close_hover min min_hover menu menu_hover; do png "$b" 30 30; done

# Icons with several sizes in one .ico file.
for n in docx pptx; do
    for s in 16 32 48; do rsvg-convert -w $s -h $s "$src/$n.svg" -o "$tmp/$n-$s.png"; done
    "$magick" "$tmp/$n-16.png" "$tmp/$n-32.png" "$tmp/$n-48.png" "$n.ico"
done

# The scanning animation: twelve frames, looping forever.
for f in "$src"/scaning-*.svg; do
    rsvg-convert -w 40 -h 40 "$f" -o "$tmp/$(basename "$f" .svg).png"
done
"$magick" -delay 8 -loop 0 -dispose background "$tmp"/scaning-*.png -background none scaning.gif
# The program's icon in the desktop's icon theme; the SVG itself is
# installed as the scalable one.
for s in 48 128 256; do
    rsvg-convert -w $s -h $s "$src/orvikloge.svg" -o "../packaging/icons/tamsel-$s.png"
done
echo "rendered into $(pwd) and ../packaging/icons"
