#!/usr/bin/python3
"""Serves a disk image through FUSE as a failing disk would read.

    failing_disk.py IMAGE MOUNTPOINT [--bad FIRST[-LAST],...] [--delay MS]
                    [--slow FIRST-LAST:MS,...] [--fail-after N] [--log FILE]

The mount point shows one read-only file, disk.img, with the bytes of IMAGE.
A read that touches a bad sector (512-byte sector numbers, a range with
FIRST-LAST inclusive) fails with EIO after --delay milliseconds, as a disk
does after its retries; a read in a slow range takes its milliseconds
first; after --fail-after reads every read fails (a disk unplugged). Reads
go straight to this process (direct_io), so the reader sees each sector's
fate exactly, not a page's. Each failed read is counted in --log (one line
"UNIX-TIME OFFSET LENGTH" per failure) when given.

Runs in the foreground until unmounted (fusermount -u MOUNTPOINT) or killed.
"""
import argparse
import errno
import os
import stat
import sys
import threading
import time

import fuse

fuse.fuse_python_api = (0, 2)

SECTOR = 512
NAME = "/disk.img"


def parse_ranges(text):
    ranges = []
    for part in filter(None, (text or "").split(",")):
        first, _, last = part.partition("-")
        ranges.append((int(first), int(last or first)))
    return ranges


def parse_slow(text):
    slow = []
    for part in filter(None, (text or "").split(",")):
        span, _, ms = part.partition(":")
        first, _, last = span.partition("-")
        slow.append((int(first), int(last or first), float(ms) / 1000.0))
    return slow


class FailingDisk(fuse.Fuse):
    def __init__(self, options, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.opts = options
        self.fd = os.open(options.image, os.O_RDONLY)
        self.size = os.fstat(self.fd).st_size
        self.bad = sorted(parse_ranges(options.bad))
        self.slow = parse_slow(options.slow)
        self.delay = options.delay / 1000.0
        self.reads = 0
        self._mutex = threading.Lock()
        self.log = open(options.log, "a", buffering=1) if options.log else None

    def getattr(self, path):
        st = fuse.Stat()
        if path == "/":
            st.st_mode = stat.S_IFDIR | 0o555
            st.st_nlink = 2
            return st
        if path != NAME:
            return -errno.ENOENT
        st.st_mode = stat.S_IFREG | 0o444
        st.st_nlink = 1
        st.st_size = self.size
        return st

    def readdir(self, path, offset):
        for name in (".", "..", NAME[1:]):
            yield fuse.Direntry(name)

    def open(self, path, flags):
        if path != NAME:
            return -errno.ENOENT
        if flags & (os.O_WRONLY | os.O_RDWR):
            return -errno.EROFS
        return 0

    def touches_bad(self, first, last):
        for lo, hi in self.bad:
            if lo > last:
                break
            if hi >= first:
                return True
        return False

    def read(self, path, size, offset):
        if path != NAME:
            return -errno.ENOENT
        with self._mutex:
            self.reads += 1
            gone = self.opts.fail_after >= 0 and self.reads > self.opts.fail_after
        if size <= 0 or offset >= self.size:
            return b""
        first = offset // SECTOR
        last = (min(offset + size, self.size) - 1) // SECTOR
        for lo, hi, seconds in self.slow:
            if lo <= last and hi >= first:
                time.sleep(seconds)
                break
        if gone or self.touches_bad(first, last):
            if self.delay > 0:
                time.sleep(self.delay)
            if self.log:
                with self._mutex:
                    self.log.write("%.3f %d %d\n" % (time.time(), offset, size))
            return -errno.EIO
        return os.pread(self.fd, size, offset)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image")
    parser.add_argument("mountpoint")
    parser.add_argument("--bad", default="")
    parser.add_argument("--delay", type=float, default=0.0)
    parser.add_argument("--slow", default="")
    parser.add_argument("--fail-after", type=int, default=-1)
    parser.add_argument("--log", default="")
    options = parser.parse_args()
    options.image = os.path.abspath(options.image)
    server = FailingDisk(options, version="failing_disk", usage="", dash_s_do="setsingle")
    server.multithreaded = True
    server.parse(args=[options.mountpoint, "-f", "-o", "ro,direct_io,default_permissions,allow_other"], errex=1)
    server.main()


if __name__ == "__main__":
    sys.exit(main())
