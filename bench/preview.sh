#!/usr/bin/env bash
# Request to preview, on a warm volume, for a 10 MB PDF and a 5 MB PPTX.
#
#   bench/preview.sh
#
# Makes the two documents in $BENCH_DIR (default /tmp/tamsel-bench): a PDF of
# 10 MB (300 pages of text, Flate-compressed, beside a large image on its
# last page) and a PPTX of 5 MB (tests/data/pptx_lo_3slides.pptx with 5 MB of
# media). build/bin/bench-preview asks for each preview $ROUNDS times
# (default 5) after a warming round: the bytes read off the volume, the
# sandboxed helper started, the page rendered or the text read, the reply
# checked. Side by side, the same work without a sandbox or our reader:
# pdftoppm rendering the first page to a PNG at the same size, and unzip
# printing the first slide. Goal: under 0.5 s each. build/bin/bench-preview-stall
# measures the window's longest stall meanwhile (goal: under 100 ms).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-5}
dir=${BENCH_DIR:-/tmp/tamsel-bench}
bench=build/bin/bench-preview
stall=build/bin/bench-preview-stall
[ -x "$bench" ] && [ -x "$stall" ] || cmake --build build --target bench-preview bench-preview-stall >/dev/null
mkdir -p "$dir"
pdf="$dir/preview-10m.pdf"
pptx="$dir/preview-5m.pptx"

python3 - "$pdf" "$pptx" tests/data/pptx_lo_3slides.pptx <<'PY'
import os, random, sys, zipfile, zlib, shutil
pdf, pptx, source = sys.argv[1:4]
rnd = random.Random(26)
words = "alpha beta gamma delta ledger harbour timber copper meadow report".split()
objects = [b"<< /Type /Catalog /Pages 2 0 R >>", None,
           b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
kids = []
for page in range(300):
    lines = [b"BT /F1 10 Tf 50 %d Td (%s) Tj ET" % (780 - 12 * i, " ".join(rnd.choice(words) for _ in range(12)).encode())
             for i in range(60)]
    content = zlib.compress(b"\n".join(lines))
    objects.append(b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(content) + content + b"\nendstream")
    contents = len(objects)
    resources = b"/Resources << /Font << /F1 3 0 R >> >>"
    if page == 299:
        objects.append(b"<< /Type /XObject /Subtype /Image /Width 1500 /Height 2100 /ColorSpace /DeviceRGB "
                       b"/BitsPerComponent 8 /Length 9450000 >>\nstream\n" + os.urandom(9450000) + b"\nendstream")
        resources = b"/Resources << /Font << /F1 3 0 R >> /XObject << /Im1 %d 0 R >> >>" % len(objects)
    objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents %d 0 R %s >>"
                   % (contents, resources))
    kids.append(len(objects))
objects[1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % k for k in kids), len(kids))
body = bytearray(b"%PDF-1.4\n")
offsets = []
for n, o in enumerate(objects, 1):
    offsets.append(len(body))
    body += b"%d 0 obj\n" % n + o + b"\nendobj\n"
xref = len(body)
body += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
body += b"".join(b"%010d 00000 n \n" % o for o in offsets)
body += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
open(pdf, "wb").write(body)
shutil.copy(source, pptx)
with zipfile.ZipFile(pptx, "a", zipfile.ZIP_STORED) as z:
    z.writestr("ppt/media/image1.bin", os.urandom(5 * 1000 * 1000))
PY
ls -l "$pdf" "$pptx" | awk '{print $5, $9}'

best() { # the fastest of $rounds runs of a command, in ms
    local bestms=
    for _ in $(seq "$rounds"); do
        local t0 t1
        t0=$(date +%s%N); "$@" >/dev/null 2>&1; t1=$(date +%s%N)
        local ms=$(( (t1 - t0) / 1000000 ))
        if [ -z "$bestms" ] || [ "$ms" -lt "$bestms" ]; then bestms=$ms; fi
    done
    echo "$bestms"
}

"$bench" PDF "$pdf" "$rounds"
QT_QPA_PLATFORM=offscreen "$stall" PDF "$pdf" "$rounds"
echo "reference: pdftoppm first page, fastest $(best pdftoppm -png -scale-to 1000 -f 1 -l 1 "$pdf" "$dir/ref") ms"
"$bench" PPTX "$pptx" "$rounds"
QT_QPA_PLATFORM=offscreen "$stall" PPTX "$pptx" "$rounds"
echo "reference: unzip -p first slide, fastest $(best unzip -p "$pptx" ppt/slides/slide1.xml) ms"
rm -f "$dir/ref"*.png
