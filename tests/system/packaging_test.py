#!/usr/bin/env python3
"""The release archive as scripts/package.sh writes it: what it holds, in which form, and the same
bytes again after the DLL is linked anew.

packaging_test.py SOURCE_FOLDER BUILD_FOLDER"""
import hashlib
import os
import re
import subprocess
import sys
import zipfile
import zlib

ENTRIES = ["FeedMarquee.dll", "README.txt", "CHANGES.txt", "feedmarquee.rc.sample", "LICENSES.txt"]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL", what)


def package(root, build, out=None):
    command = [os.path.join(root, "scripts", "package.sh"), "--build", build]
    if out:
        command += ["--out", out]
    printed = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    archive = re.search(r"^package: (.*\.zip)$", printed, re.M).group(1)
    folder, name = os.path.split(archive)
    stem = name[:-len(".zip")]
    files = {}
    for suffix in (".zip", ".zip.sha256", ".dll.debug"):
        with open(os.path.join(folder, stem + suffix), "rb") as f:
            files[suffix] = f.read()
    return stem, archive, files


def main():
    root, build = (os.path.abspath(folder) for folder in sys.argv[1:3])
    stem, archive, first = package(root, build)
    version = stem[len("FeedMarquee-"):]
    check(re.fullmatch(r"\d+\.\d+\.\d+", version), f"archive name {stem}")

    digest = hashlib.sha256(first[".zip"]).hexdigest()
    check(first[".zip.sha256"] == f"{digest}  {stem}.zip\n".encode(), "the .sha256 file")

    with zipfile.ZipFile(archive) as zip:
        check(zip.namelist() == ENTRIES, f"entries {zip.namelist()}")
        contents = {name: zip.read(name) for name in zip.namelist()}
    dll = contents.get("FeedMarquee.dll", b"")
    with open(os.path.join(build, "FeedMarquee.dll"), "rb") as f:
        check(dll == f.read(), "the archive's DLL is the one built")
    for name in ENTRIES[1:]:
        text = contents.get(name, b"")
        check(text.count(b"\n") > 10 and text.count(b"\n") == text.count(b"\r\n"),
              f"{name} has CRLF line ends only")
        check(b"@VERSION@" not in text, f"{name} has its version filled in")
    check(f"FeedMarquee {version}".encode() in contents.get("README.txt", b""),
          "README.txt names the version")
    changes = contents.get("CHANGES.txt", b"").decode("utf-8").splitlines()
    first_version = next((line for line in changes if line[:1].isdigit()), "")
    check(first_version.startswith(version + " "), f"CHANGES.txt starts at {first_version}")

    # Stripped, with a debug link naming the published symbols and their checksum.
    debug = first[".dll.debug"]
    check(b".debug_info" not in dll and b".debug_info" in debug, "symbols only in the .debug")
    link = dll.find(b"FeedMarquee.dll.debug\0")
    check(link > 0, "the DLL links to FeedMarquee.dll.debug")
    if link > 0:
        at = link + (len("FeedMarquee.dll.debug") + 1 + 3) // 4 * 4
        check(int.from_bytes(dll[at:at + 4], "little") == zlib.crc32(debug),
              "the debug link's checksum is the published .debug's")
    # Paths as they are, and as tools make symbol names of them (/work/x -> _work_x).
    for folder in {root, build, os.path.realpath(root)}:
        for form in (folder, re.sub(r"[^0-9A-Za-z]", "_", folder)):
            for what, data in (("DLL", dll), (".debug", debug)):
                check(form.encode() not in data, f"the {what} holds {form}")

    # Linked again: the same bytes.
    os.remove(os.path.join(build, "FeedMarquee.dll"))
    _, _, again = package(root, build, os.path.join(build, "package-again"))
    for suffix in first:
        check(again[suffix] == first[suffix], f"{stem}{suffix} is the same after a new link")

    print(f"{stem}.zip {digest}" if not failures else f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
