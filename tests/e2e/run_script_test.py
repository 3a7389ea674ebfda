#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks that `make run` started by root runs the program as an unprivileged user.

    run_script_test.py

scripts/run.sh is given a stand-in program in a folder only root can enter (as a build tree
under a root-only home is); the stand-in writes down who it runs as and with what. Needs root
and the virtual desktop's tools (exit 77, with the reason, otherwise). The last line is
"N passed, N failed" or "0 passed, 0 failed, 1 skipped".
"""

import glob
import os
import shutil
import stat
import subprocess
import sys
import tempfile
from pathlib import Path

sys.dont_write_bytecode = True  # keep the source tree free of __pycache__
sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness as h  # noqa: E402
from harness import check  # noqa: E402

SKIP = 77
CAP_NET_RAW = 13
STAND_IN = """#!/bin/sh
{{
    echo "uid=$(id -u)"
    grep -E '^(CapEff|CapBnd|NoNewPrivs):' /proc/self/status
    echo "home=$HOME"
    echo "runtime=$XDG_RUNTIME_DIR"
    stat -c 'runtime_owner=%u' "$XDG_RUNTIME_DIR"
    stat -c 'runtime_mode=%a' "$XDG_RUNTIME_DIR"
    stat -c 'home_owner=%u' "$HOME"
    test -w "$HOME" && echo home_writable=yes
    stat -c 'program_owner=%u' "$0"
    stat -c 'program_mode=%a' "$0"
}} > {report}.part
mv {report}.part {report}
exec sleep 60
"""


def read_report(path):
    values = {}
    for line in path.read_text().splitlines():
        key, _, value = line.partition("=") if "=" in line else line.partition(":")
        values[key.strip()] = value.strip()
    return values


def test_run_as_root():
    if not h.is_root():
        raise h.TestSkipped("the script drops root only when it has it")
    for tool in ("Xvfb", "openbox", "trayer", "xdotool", "import", "xdpyinfo", "setpriv"):
        if not shutil.which(tool):
            raise h.TestSkipped(f"{tool} is not installed")
    before = set(glob.glob("/tmp/flowbright-*"))
    closed = Path(tempfile.mkdtemp(prefix="fb-run-"))  # mode 0700: only root enters
    shared = Path(tempfile.mkdtemp(prefix="fb-run-report-"))
    try:
        shared.chmod(0o1777)
        report = shared / "report"
        program = closed / "build/flowbright"
        program.parent.mkdir()
        program.write_text(STAND_IN.format(report=report))
        program.chmod(0o755)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.pop("SUDO_USER", None)
        env["FB_SCREENSHOT"] = str(closed / "shot.png")
        result = h.run([str(h.REPO / "scripts/run.sh"), str(program)], env=env, timeout=120)
        check(report.exists(), f"the program did not start: {result.stdout}{result.stderr}")
        values = read_report(report)
        check(values.get("uid") not in (None, "0"), f"the program ran as uid {values.get('uid')}")
        check(int(values["CapEff"], 16) == 0, f"effective capabilities {values['CapEff']}")
        check(not int(values["CapBnd"], 16) >> CAP_NET_RAW & 1,
              f"CAP_NET_RAW is in the bounding set {values['CapBnd']}")
        check(values.get("NoNewPrivs") == "1", "the program may gain privileges")
        check(values.get("runtime_owner") == values["uid"] and values.get("runtime_mode") == "700",
              f"runtime directory {values.get('runtime')}: owner {values.get('runtime_owner')}, "
              f"mode {values.get('runtime_mode')}")
        check(values.get("home_owner") == values["uid"] and values.get("home_writable") == "yes",
              f"home {values.get('home')} owned by {values.get('home_owner')}")
        # The user cannot enter the folder, so it ran a copy: root's, and writable by root only.
        check(values.get("program_owner") == "0",
              f"the copy belongs to {values.get('program_owner')}")
        check(not int(values["program_mode"], 8) & (stat.S_IWGRP | stat.S_IWOTH),
              f"the copy's mode is {values['program_mode']}")
        check("runs as the user" in result.stdout, f"no word of the user: {result.stdout}")
        left = set(glob.glob("/tmp/flowbright-*")) - before
        check(not left, f"left behind: {sorted(left)}")
    finally:
        shutil.rmtree(closed, ignore_errors=True)
        shutil.rmtree(shared, ignore_errors=True)


def main():
    try:
        test_run_as_root()
    except h.TestSkipped as reason:
        print(f"[SKIP] make run as root: {reason}")
        print("0 passed, 0 failed, 1 skipped")
        return SKIP
    except (h.TestFailure, subprocess.SubprocessError, KeyError, ValueError) as error:
        print(f"[FAIL] make run as root: {error!r}")
        print("0 passed, 1 failed")
        return 1
    print("[PASS] make run as root")
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
