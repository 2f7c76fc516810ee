#!/usr/bin/env python3
"""Packs the two archives players download, the same bytes from the same inputs.

    make_archives.py VERSION EPOCH LINUX_PROGRAM WINDOWS_PROGRAM LISEZMOI OUTDIR

Writes into OUTDIR:
    orvelia-patcher-VERSION-windows-x64.zip
        orvelia-patcher.exe, LISEZMOI.txt (byte-order mark and CR LF line ends, so that
        every Notepad shows the accents)
    orvelia-patcher-VERSION-linux-x86_64.tar.gz
        the folder orvelia-patcher-VERSION/ with orvelia-patcher and LISEZMOI.txt (UTF-8,
        LF): unpacked in a terminal, it does not spill into the current folder
Every entry has the time EPOCH (seconds since 1970, UTC), fixed permissions and no owner;
entries come in a fixed order, and the gzip header holds neither a name nor a time.
"""
import gzip
import io
import sys
import tarfile
import time
import zipfile

EXECUTABLE_MODE = 0o755
FILE_MODE = 0o644


def windows_text(text):
    if "\r" in text:
        raise ValueError("LISEZMOI.txt must have LF line ends")
    return b"\xef\xbb\xbf" + text.replace("\n", "\r\n").encode("utf-8")


def write_zip(path, epoch, entries):
    # Zip times are local times of day with 2-second steps, from 1980 on: the epoch is
    # written as the UTC time it names.
    stamp = time.gmtime(max(epoch, 315532800))
    date_time = (stamp.tm_year, stamp.tm_mon, stamp.tm_mday, stamp.tm_hour, stamp.tm_min, stamp.tm_sec)
    with zipfile.ZipFile(path, "w") as archive:
        for name, data, mode in entries:
            info = zipfile.ZipInfo(name, date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix: the permissions below are kept
            info.external_attr = (0o100000 | mode) << 16
            archive.writestr(info, data, compresslevel=9)


def write_tar_gz(path, epoch, entries):
    tar_bytes = io.BytesIO()
    with tarfile.open(fileobj=tar_bytes, mode="w", format=tarfile.USTAR_FORMAT) as archive:
        for name, data, mode in entries:
            info = tarfile.TarInfo(name)
            info.mtime = epoch
            info.mode = mode
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            if data is None:
                info.type = tarfile.DIRTYPE
                archive.addfile(info)
            else:
                info.size = len(data)
                archive.addfile(info, io.BytesIO(data))
    with open(path, "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0,
                                                compresslevel=9) as packed:
        packed.write(tar_bytes.getvalue())


def main():
    if len(sys.argv) != 7:
        sys.exit("usage: make_archives.py VERSION EPOCH LINUX_PROGRAM WINDOWS_PROGRAM LISEZMOI OUTDIR")
    version, epoch, linux_program, windows_program, lisezmoi, outdir = sys.argv[1:]
    epoch = int(epoch)
    with open(linux_program, "rb") as f:
        linux_bytes = f.read()
    with open(windows_program, "rb") as f:
        windows_bytes = f.read()
    with open(lisezmoi, "rb") as f:
        text = f.read().decode("utf-8")

    write_zip(f"{outdir}/orvelia-patcher-{version}-windows-x64.zip", epoch, [
        ("orvelia-patcher.exe", windows_bytes, EXECUTABLE_MODE),
        ("LISEZMOI.txt", windows_text(text), FILE_MODE),
    ])
    folder = f"orvelia-patcher-{version}"
    write_tar_gz(f"{outdir}/orvelia-patcher-{version}-linux-x86_64.tar.gz", epoch, [
        (f"{folder}/", None, EXECUTABLE_MODE),
        (f"{folder}/orvelia-patcher", linux_bytes, EXECUTABLE_MODE),
        (f"{folder}/LISEZMOI.txt", text.encode("utf-8"), FILE_MODE),
    ])


if __name__ == "__main__":
    main()
