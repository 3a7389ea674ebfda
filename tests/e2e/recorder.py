#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Stands in for a program that Flowbright starts (wine, xdg-open, UpdateApp.exe).

The harness installs a copy of this script under each of those names in a directory at the
front of PATH. Each run appends one JSON line to the file named by FB_E2E_RECORDS:
{"name": <the name it was started as>, "argv": [<arguments>], "cwd": ..., "wineprefix": ...}
and exits with status 0 at once, as a started program that went to the background would.
"""

import fcntl
import json
import os
import sys


def main():
    records = os.environ.get("FB_E2E_RECORDS")
    if not records:
        return 0
    entry = {
        "name": os.path.basename(sys.argv[0]),
        "argv": sys.argv[1:],
        "cwd": os.getcwd(),
        "wineprefix": os.environ.get("WINEPREFIX"),
    }
    line = json.dumps(entry) + "\n"
    fd = os.open(records, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o600)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX)
        os.write(fd, line.encode("utf-8"))
    finally:
        os.close(fd)
    return 0


if __name__ == "__main__":
    sys.exit(main())
