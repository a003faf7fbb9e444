#!/usr/bin/env bash
# Free-space scanning against whole-volume scanning and dd, side by side.
#
#   bench/free_space.sh [--keep]
#
# Builds (once, in $BENCH_DIR, default /tmp/tamsel-bench) a 2 GiB FAT32
# volume (tests/scripts/make-fat32-full-volume.sh, mtools) and a 2 GiB NTFS
# volume (mkntfs and an ntfs-3g mount: needs root), each about 80 % full of
# live files of random bytes, with 50 deleted documents (copies of
# /work/shared/corpus, or of tests/data where that is missing) in the holes
# between them; the rest of their free space holds random bytes, as old
# data on a used disk does. Then, with the page cache warm, it times `dd bs=32M` of the
# whole image, `tamsel-cli scan` (unused space only, the default) and
# `tamsel-cli scan --whole`, alternately for $ROUNDS rounds (default 5),
# and prints the fastest of each, the ratios, the bytes each read (for dd
# its rchar; for a scan the bytes its plan line says it reads, since a warm
# scan views cached windows in place and rchar does not see that),
# and how many of the 50 deleted documents `tamsel-cli recover` writes back
# byte for byte (sha256) in each mode. The images are removed afterwards
# unless --keep is given.
set -euo pipefail
cd "$(dirname "$0")/.."

keep=0
[ "${1:-}" = "--keep" ] && keep=1
dir=${BENCH_DIR:-/tmp/tamsel-bench}
cli=build/bin/tamsel-cli
size_mib=2048
count=50
corpus=/work/shared/corpus
[ -d "$corpus" ] || corpus=tests/data

[ -x "$cli" ] || scripts/build.sh build >/dev/null
mkdir -p "$dir"
fat_img="$dir/free-fat32-2g.img"
ntfs_img="$dir/free-ntfs-2g.img"
cleanup() {
    if [ "$keep" -eq 0 ]; then
        rm -f "$fat_img" "$fat_img.deleted" "$fat_img.filled" "$ntfs_img" "$ntfs_img.deleted" "$ntfs_img.filled"
    fi
}
trap cleanup EXIT

mapfile -t docs < <(ls "$corpus"/*.{pdf,doc,xls,ppt,docx,xlsx,pptx,zip} 2>/dev/null)

if [ ! -f "$fat_img.deleted" ]; then
    echo "building $fat_img" >&2
    DELETED=$count tests/scripts/make-fat32-full-volume.sh "$fat_img" "$size_mib" "${docs[@]}"
fi

if [ ! -f "$ntfs_img.deleted" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "free_space: the NTFS volume is made through an ntfs-3g mount, which needs root" >&2
        exit 1
    fi
    echo "building $ntfs_img" >&2
    rm -f "$ntfs_img"
    truncate -s "${size_mib}M" "$ntfs_img"
    mkntfs -F -Q -q -c 4096 -L FULL "$ntfs_img"
    mnt=$(mktemp -d)
    ntfs-3g "$ntfs_img" "$mnt"
    # The same layout as the FAT32 one: a document before each live file,
    # the documents deleted once everything is written.
    python3 - "$mnt" "$size_mib" "$count" "$ntfs_img.deleted" "${docs[@]}" <<'PY'
import os, random, shutil, sys
mnt, mib, count, listing, docs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5:]
rng = random.Random(20240607)
target = mib * 1024 * 1024 * 8 // 10
made, n, deleted = 0, 0, []
while made < target:
    if n < count:
        src = docs[n % len(docs)]
        name = "LOST%04d.%s" % (n, src.rsplit(".", 1)[1])
        shutil.copyfile(src, os.path.join(mnt, name))
        deleted.append((name, src))
    size = min(rng.randrange(1 << 20, (32 << 20) + 1), target - made)
    with open(os.path.join(mnt, "live%05d.bin" % n), "wb") as f:
        f.write(rng.randbytes(size))
    made += size
    n += 1
os.sync()
for name, _ in deleted:
    os.remove(os.path.join(mnt, name))
with open(listing, "w") as f:
    for name, src in deleted:
        f.write("%s\t%s\n" % (name, src))
PY
    umount "$mnt"
    rmdir "$mnt"
fi

# The volumes are built in sparse files, so their free space is holes, which
# read far faster than data. On a disk that has been used, free space holds
# old bytes: the holes are written with random ones (deleted documents were
# written, so they are no holes and stay).
for img in "$fat_img" "$ntfs_img"; do
    [ -f "$img.filled" ] && continue
    python3 - "$img" <<'PY'
import os, sys
fd = os.open(sys.argv[1], os.O_RDWR)
end = os.fstat(fd).st_size
at = 0
while at < end:
    try:
        hole = os.lseek(fd, at, os.SEEK_HOLE)
    except OSError:
        break
    if hole >= end:
        break
    try:
        data = os.lseek(fd, hole, os.SEEK_DATA)
    except OSError:
        data = end
    pos = hole
    while pos < data:
        n = min(1 << 20, data - pos)
        os.pwrite(fd, os.urandom(n), pos)
        pos += n
    at = data
os.fsync(fd)
os.close(fd)
PY
    touch "$img.filled"
done

python3 - "$cli" "${ROUNDS:-5}" "$fat_img" "$ntfs_img" <<'PY'
import hashlib, os, re, subprocess, sys, tempfile, time
from collections import Counter
cli, rounds, images = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
env = dict(os.environ, XDG_DATA_HOME=tempfile.mkdtemp(prefix="tamsel-bench-data-"))

UNITS = {"KB": 1024, "MB": 1024 ** 2, "GB": 1024 ** 3}


def timed(cmd, size):
    """Wall time and bytes read of one run: dd's rchar (the child's counters
    are read before it is reaped), or what the scan says it reads ("Scanning
    unused space only: 409.60 MB of 2.00 GB read"; the whole volume when it
    says nothing)."""
    with open(os.devnull, "wb") as null:
        t0 = time.perf_counter()
        p = subprocess.Popen(cmd, stdout=null, stderr=subprocess.PIPE, env=env)
        err = p.stderr.read().decode("utf-8", "replace")
        os.waitid(os.P_PID, p.pid, os.WEXITED | os.WNOWAIT)
        seconds = time.perf_counter() - t0
        rchar = 0
        with open("/proc/%d/io" % p.pid) as f:
            for line in f:
                if line.startswith("rchar:"):
                    rchar = int(line.split()[1])
        p.wait()
    if cmd[0] == "dd":
        return seconds, rchar
    plan = re.search(r"Scanning unused space only: ([0-9.]+) ([KMG]B) of", err)
    return seconds, float(plan.group(1)) * UNITS[plan.group(2)] if plan else size

def sha(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()

def found(img, extra):
    wanted = Counter()
    with open(img + ".deleted") as f:
        for line in f:
            wanted[sha(line.rstrip("\n").split("\t")[1])] += 1
    out = tempfile.mkdtemp(prefix="tamsel-bench-out-")
    # 3: damaged documents were left out, the others written.
    done = subprocess.run([cli, "recover", img, out] + extra, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          env=env)
    if done.returncode not in (0, 3):
        raise subprocess.CalledProcessError(done.returncode, done.args)
    got = Counter(sha(os.path.join(out, n)) for n in os.listdir(out) if not n.startswith("report"))
    subprocess.run(["rm", "-rf", out])
    return sum(min(n, got[h]) for h, n in wanted.items()), sum(wanted.values())

print("fastest of %d alternating rounds, page cache warm, %d cores (load average %s)"
      % (rounds, os.cpu_count(), " ".join(open("/proc/loadavg").read().split()[:3])))
for img in images:
    size = os.path.getsize(img)
    subprocess.run(["cat", img], stdout=subprocess.DEVNULL)
    runs = {"dd": [], "unused": [], "whole": []}
    commands = {"dd": ["dd", "if=" + img, "of=/dev/null", "bs=32M"],
                "unused": [cli, "scan", img], "whole": [cli, "scan", img, "--whole"]}
    for _ in range(rounds):
        for k in ("dd", "unused", "whole"):
            runs[k].append(timed(commands[k], size))
    best = {k: min(v) for k, v in runs.items()}
    print("%s (%.0f MiB)" % (os.path.basename(img), size / 2**20))
    for k in ("dd", "whole", "unused"):
        print("  %-7s %7.3f s  read %8.1f MiB (%.3f of the volume)"
              % (k, best[k][0], best[k][1] / 2**20, best[k][1] / size))
    print("  unused/whole %.3f   unused/dd %.3f   whole/dd %.3f"
          % (best["unused"][0] / best["whole"][0], best["unused"][0] / best["dd"][0], best["whole"][0] / best["dd"][0]))
    for label, extra in (("unused", []), ("whole", ["--whole"])):
        n, total = found(img, extra)
        print("  deleted documents recovered byte-identical (%s): %d of %d" % (label, n, total))
PY
