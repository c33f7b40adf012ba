#!/usr/bin/env python3
"""Unpacks the release archive that scripts/package.sh wrote into plugins/FeedMarquee/ of a fresh
shell folder, as a user unpacks it, and runs the Windows half of the test there.

install_test.py SOURCE_FOLDER BUILD_FOLDER EMULATOR TEST_PROGRAM"""
import os
import re
import shutil
import subprocess
import sys
import zipfile


def main():
    root, build, emulator, program = sys.argv[1:5]
    numbers = {}
    with open(os.path.join(root, "release", "version.h"), encoding="utf-8") as f:
        for name, value in re.findall(r"^#define FM_VERSION_(MAJOR|MINOR|PATCH) (\d+)$", f.read(),
                                      re.M):
            numbers[name] = value
    version = f"{numbers['MAJOR']}.{numbers['MINOR']}.{numbers['PATCH']}"
    archive = os.path.join(root, "out", "release", f"FeedMarquee-{version}.zip")
    folder = os.path.join(build, "install-test")
    shutil.rmtree(folder, ignore_errors=True)
    plugin = os.path.join(folder, "plugins", "FeedMarquee")
    os.makedirs(plugin)
    with zipfile.ZipFile(archive) as zip:
        zip.extractall(plugin)
    environment = dict(os.environ, FM_INSTALL_FOLDER=folder, FM_RELEASE_VERSION=version)
    status = subprocess.run([emulator, program], env=environment).returncode
    if status == 0:
        shutil.rmtree(folder, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
