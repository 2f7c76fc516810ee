#!/usr/bin/python3
"""Checks a release as a player gets it: check_release.py DIST TOOLS_DIR, where DIST is what
scripts/release wrote and TOOLS_DIR a Linux build with make-test-image and make-test-patch.
Reads the .exe with Debian's python3-pefile."""
import re, subprocess, sys, tarfile, tempfile, zipfile
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pefile

ROOT = Path(__file__).resolve().parents[2]
VERSION = re.search(r"project\(orvelia_patcher VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())[1]
HEAD = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short=12", "HEAD"], capture_output=True, text=True).stdout.strip()
SUPPORTED_OS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
failures = []


def check(what, ok, detail=""):
    print(f"  {'ok    ' if ok else 'FAILED'} {what}" + ("" if ok else f": {detail}"))
    failures.extend([] if ok else [what])


def run(command, folder, stdin=b""):
    return subprocess.run(command, cwd=folder, input=stdin, capture_output=True, timeout=600)


def check_program(name, command, folder, files):
    """--version, any other argument, then a patch run on the demo image laid out in `folder`."""
    line = run(command + ["--version"], folder).stdout.decode("ascii", "replace").strip()
    check(f"{name}: --version", re.fullmatch(rf"orvelia-patcher {re.escape(VERSION)} \(commit {HEAD}(-dirty)?\)", line), line)
    other = run(command + ["--Version"], folder).stdout
    check(f"{name}: another argument runs the patcher", b"Impossible de trouver le fichier ISO" in other, other[:200])
    for place, source in (("Orvelia/Orvelia.iso", "image.iso"), ("patches/OV1_Patch_US-FR_demo.xdelta", "patch.xdelta")):
        (folder / place).parent.mkdir()
        (folder / place).hardlink_to(files / source)
    patched = run(command, folder, b"\n")
    # Its exit status is always 0: only its text and its output tell the outcome.
    check(f"{name}: patches the demo image", b"avec succ" in patched.stdout, patched.stdout[-300:])
    digest = run(["sha256sum", "Orvelia/Orvelia_patched.iso"], folder).stdout[:64].decode()
    check(f"{name}: the patched image is the one the patch makes", digest == (files / "expected.sha256").read_text().strip())
    (folder / "Orvelia/Orvelia_patched.iso").unlink(missing_ok=True)


def check_windows_details(exe):
    pe = pefile.PE(exe)
    check("exe: no time stamp", pe.FILE_HEADER.TimeDateStamp == 0, hex(pe.FILE_HEADER.TimeDateStamp))
    imports = [entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT]
    check("exe: needs no DLL but the system's", not any(dll.startswith("lib") for dll in imports), imports)
    tables = [table for info in pe.FileInfo[0] for table in getattr(info, "StringTable", [])]
    strings = {k.decode(): v.decode() for k, v in tables[0].entries.items()} if tables else {}
    expected = {"FileDescription": "Patcheur pour mettre Orvelia en français", "FileVersion": VERSION,
                "ProductVersion": VERSION, "ProductName": "Patcheur Orvelia en français",
                "OriginalFilename": "orvelia-patcher.exe"}
    major, minor, patch = (int(n) for n in VERSION.split("."))
    fixed = pe.VS_FIXEDFILEINFO[0]
    check("exe: version details, in French", [t.LangID for t in tables] == [b"040C04B0"] and
          all(strings.get(k) == v for k, v in expected.items()) and strings.get("LegalCopyright", "").startswith("©") and
          (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS) == (major << 16 | minor, patch << 16, major << 16 | minor),
          [[t.LangID for t in tables], strings])
    resources = {entry.id: entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries}
    check("exe: icon", {pefile.RESOURCE_TYPE["RT_GROUP_ICON"], pefile.RESOURCE_TYPE["RT_ICON"]} <= resources.keys())
    manifest_entry = resources[pefile.RESOURCE_TYPE["RT_MANIFEST"]].directory.entries[0].directory.entries[0].data.struct
    manifest = ElementTree.fromstring(pe.get_data(manifest_entry.OffsetToData, manifest_entry.Size))
    elements = lambda name: [e for e in manifest.iter() if e.tag.endswith("}" + name)]
    levels = [e.get("level") for e in elements("requestedExecutionLevel")]
    check("manifest: runs as the invoking user", levels == ["asInvoker"], levels)
    systems = {e.get("Id") for e in elements("supportedOS")}
    check("manifest: Vista to 10 and 11", systems == SUPPORTED_OS, systems)
    check("manifest: no code page or long path setting", not elements("activeCodePage") + elements("longPathAware"))


def main():
    dist, tools = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    sums = run(["sha256sum", "-c", "SHA256SUMS"], dist)
    check("sha256sum -c SHA256SUMS", sums.returncode == 0, sums.stdout + sums.stderr)
    text = (ROOT / "packaging/LISEZMOI.txt").read_bytes()
    folder = f"orvelia-patcher-{VERSION}"
    with tempfile.TemporaryDirectory(prefix="orvelia-release-check.") as scratch:
        files, windows, linux = (Path(scratch) / name for name in ("files", "windows", "linux"))
        files.mkdir()
        subprocess.run([tools / "make-test-image", "us", "sparse", files / "image.iso"], check=True)
        subprocess.run([tools / "make-test-patch", "--sha256-file", files / "expected.sha256",
                        files / "image.iso", files / "patch.xdelta"], check=True, stdout=subprocess.DEVNULL)
        with zipfile.ZipFile(dist / f"orvelia-patcher-{VERSION}-windows-x64.zip") as archive:
            check("zip: the program and LISEZMOI.txt", archive.namelist() == ["orvelia-patcher.exe", "LISEZMOI.txt"])
            archive.extractall(windows)
        with tarfile.open(dist / f"orvelia-patcher-{VERSION}-linux-x86_64.tar.gz") as archive:
            check("tar: one folder, the program and LISEZMOI.txt",
                  archive.getnames() == [folder, f"{folder}/orvelia-patcher", f"{folder}/LISEZMOI.txt"])
            archive.extractall(linux)
        linux = linux / folder
        text.decode("utf-8")  # raises on anything but UTF-8
        check("LISEZMOI.txt for Windows: byte-order mark, CR LF", b"\r" not in text and
              (windows / "LISEZMOI.txt").read_bytes() == b"\xef\xbb\xbf" + text.replace(b"\n", b"\r\n"))
        check("LISEZMOI.txt for Linux: UTF-8, LF", (linux / "LISEZMOI.txt").read_bytes() == text)
        needed = re.findall(r"\(NEEDED\).*\[(.*)\]", run(["readelf", "-d", "orvelia-patcher"], linux).stdout.decode())
        # An empty list is no pass: a static or unreadable program shows none.
        check("linux: needs nothing beyond the C library",
              "libc.so.6" in needed and set(needed) <= {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"}, needed)
        check_windows_details(windows / "orvelia-patcher.exe")
        check_program("linux", ["./orvelia-patcher"], linux, files)
        check_program("windows", [ROOT / "scripts/wine-run", "./orvelia-patcher.exe"], windows, files)
    print(f"check_release: {len(failures)} failed" + "".join(f"\n  {f}" for f in failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
