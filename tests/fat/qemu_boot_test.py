#!/usr/bin/env python3
"""Boots formatted volumes in QEMU and reads what the boot program did.

usage: qemu_boot_test.py MAKE_FAT_IMAGE TEST_IO_SYS CASE
CASE: no-system  partitioned disk without system files: "Invalid system disk"
      no-msdos   IO.SYS without MSDOS.SYS: "Invalid system disk"
      boot       partitioned disk with a fragmented three-cluster IO.SYS: it runs
      superfloppy  unpartitioned 30 MiB layout (jump EB 3E) with IO.SYS: it runs
      io-error   a disk that ends inside the first FAT: "Disk I/O error"
The screen is read from VGA text memory through the QEMU monitor; the test
IO.SYS also writes a marker to the QEMU debug console.
"""
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

TIMEOUT = 20.0
MIB = 1 << 20


def run(*args, env=None):
    r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=30)
    if r.returncode != 0:
        raise SystemExit("failed: %s\n%s" % (" ".join(args), r.stdout.decode(errors="replace")))
    return r.stdout.decode(errors="replace")


def fat_chain(image, offset, first):
    with open(image, "rb") as f:
        f.seek(offset)
        boot = f.read(512)
        reserved = struct.unpack_from("<H", boot, 0x0E)[0]
        f.seek(offset + reserved * 512)
        fat = f.read(struct.unpack_from("<H", boot, 0x16)[0] * 512)
    chain, c = [], first
    while 2 <= c < 0xFFF8 and len(chain) < 1000:
        chain.append(c)
        c = struct.unpack_from("<H", fat, c * 2)[0]
    return chain


def first_cluster(target, name):
    # mdir does not print clusters; read the root directory directly.
    path, _, off = target.partition("@@")
    offset = int(off or 0)
    with open(path, "rb") as f:
        f.seek(offset)
        boot = f.read(512)
        fats = boot[0x10]
        per_fat = struct.unpack_from("<H", boot, 0x16)[0]
        reserved = struct.unpack_from("<H", boot, 0x0E)[0]
        f.seek(offset + (reserved + fats * per_fat) * 512)
        root = f.read(512 * 32)
    for i in range(0, len(root), 32):
        if root[i:i + 11] == name:
            return struct.unpack_from("<H", root, i + 26)[0], offset
    raise SystemExit("%r not in the root directory" % name)


def screen_text(monitor_path, dump):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(2)
    s.connect(monitor_path)
    try:
        if os.path.exists(dump):
            os.remove(dump)
        # A bare name: the monitor would read a "/" in a path as a division.
        s.sendall(("pmemsave 0xb8000 4000 %s\n" % os.path.basename(dump)).encode())
        end = time.time() + 2
        while time.time() < end and not (os.path.exists(dump) and os.path.getsize(dump) == 4000):
            time.sleep(0.05)
    finally:
        s.close()
    if not os.path.exists(dump):
        return ""
    data = open(dump, "rb").read()
    chars = bytes(data[i] for i in range(0, len(data), 2)).decode("ascii", "replace")
    return "\n".join(chars[r * 80:(r + 1) * 80].rstrip() for r in range(25))


def boot(work, image, want_screen=None, want_debug=None):
    monitor = os.path.join(work, "monitor.sock")
    debug = os.path.join(work, "debugcon.txt")
    dump = os.path.join(work, "vga.bin")
    qemu = subprocess.Popen(
        ["qemu-system-i386", "-m", "16", "-display", "none", "-no-reboot",
         "-drive", "file=%s,format=raw,if=ide,index=0" % image, "-boot", "c",
         "-monitor", "unix:%s,server,nowait" % monitor, "-debugcon", "file:%s" % debug],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=work)
    text, log = "", ""
    try:
        end = time.time() + TIMEOUT
        while time.time() < end:
            time.sleep(0.25)
            if qemu.poll() is not None:
                break
            if not os.path.exists(monitor):
                continue
            text = screen_text(monitor, dump)
            log = open(debug, "rb").read().decode("ascii", "replace") if os.path.exists(debug) else ""
            if (want_screen is None or all(w in text for w in want_screen)) and \
               (want_debug is None or want_debug in log):
                return text, log
    finally:
        qemu.kill()
        qemu.wait()
    raise SystemExit("boot did not show what was expected within %.0f s\nscreen:\n%s\ndebug console: %r"
                     % (TIMEOUT, text, log))


def main():
    make_image, io_sys, case = sys.argv[1], sys.argv[2], sys.argv[3]
    work = tempfile.mkdtemp(prefix="vornak-boot-")
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    try:
        image = os.path.join(work, "disk.img")
        if case == "superfloppy":
            run(make_image, image, str(30 * MIB), "--label", "boot")
            target = image
        else:
            run(make_image, image, str(60669 * 512), "--mbr", "--label", "boot")
            target = image + "@@%d" % (63 * 512)

        def put(local, name):
            run("mcopy", "-i", target, local, "::" + name, env=env)

        filler = os.path.join(work, "filler")
        with open(filler, "wb") as f:
            f.write(b"\0" * 100)
        msdos = os.path.join(work, "msdos.sys")
        with open(msdos, "wb") as f:
            f.write(b"[Options]\r\n")

        if case in ("boot", "superfloppy"):
            # Leave a one-cluster hole in front of a used cluster so that IO.SYS
            # is split, then check that it really is.
            put(filler, "A.TXT")
            put(filler, "B.TXT")
            run("mdel", "-i", target, "::A.TXT", env=env)
            put(io_sys, "IO.SYS")
            put(msdos, "MSDOS.SYS")
            first, offset = first_cluster(target, b"IO      SYS")
            chain = fat_chain(image, offset, first)
            if len(chain) != 3 or chain[1] == chain[0] + 1:
                raise SystemExit("IO.SYS is not fragmented as intended: %r" % chain)
            _, log = boot(work, image, want_debug="VORNAK-TEST-IO-SYS-RUNNING")
            if "DL=80" not in log:
                raise SystemExit("IO.SYS did not get the boot drive in DL: %r" % log)
            print("IO.SYS ran; cluster chain %r; debug console: %r" % (chain, log.strip()))
        elif case == "io-error":
            with open(image, "r+b") as f:
                f.truncate((63 + 4) * 512)
            text, _ = boot(work, image, want_screen=["Disk I/O error",
                                                     "Replace the disk, and then press any key"])
            if "Invalid system disk" in text:
                raise SystemExit("wrong message:\n" + text)
            print(text)
        elif case in ("no-system", "no-msdos"):
            if case == "no-msdos":
                put(io_sys, "IO.SYS")
            text, _ = boot(work, image, want_screen=["Invalid system disk",
                                                     "Replace the disk, and then press any key"])
            lines = text.splitlines()
            row = next(i for i, l in enumerate(lines) if "Invalid system disk" in l)
            if "Replace the disk, and then press any key" not in lines[row + 1]:
                raise SystemExit("messages are not on consecutive lines:\n" + text)
            if "Disk I/O error" in text:
                raise SystemExit("unexpected I/O error:\n" + text)
            print(text)
        else:
            raise SystemExit("unknown case " + case)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
