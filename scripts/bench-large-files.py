#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""How long Flowbright takes to start and to end with large files of its own.

Makes a 10 MB registry store (Wine's text format, many keys under HKCU) and a 10 MB settings
file (the 25 settings plus filler sections), then runs the real program on a virtual desktop
of this script's own (Xvfb from :190 up, openbox, trayer, a session bus) in a throwaway HOME /
XDG_CONFIG_HOME / WINEPREFIX, and reports:
  - start: from the launch until the main window is shown
    (xdotool search --onlyvisible --name '^Flowbright$' finds it);
  - exit: from SIGTERM until the process has ended (the settings are written on the way out).

Four configurations, interleaved run by run so that a change in the machine's load spreads
over all of them alike: small files, a large settings file, a large registry store, both.
The figures are medians. It is a benchmark, not a test: it always exits 0 once it has measured,
and marks the figures over the target. Run by root, the program (and the session bus) runs as an
ordinary user without CAP_NET_RAW, as in the end-to-end suite (see tests/e2e/harness.py).

Usage: scripts/bench-large-files.py BUILD_DIR [--runs N] [--size-mb M]
"""

import argparse
import statistics
import signal
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import harness  # noqa: E402

TARGET_MS = 500
WINDOW_NAME = "^Flowbright$"

# The 25 settings, as a run leaves them.
SETTINGS = """[main]
alwaysontop=0
nsresolve=0
portresolve=0
idleseconds=10
[filters]
filtertcp=0
filterudp=0
filtericmp=0
[mainwindow]
status=-1
top=-1
bottom=-1
left=-1
right=-1
[list]
srcaddr=120
destaddr=120
srcport=80
destport=80
proto=50
traffic=100
bs=80
abs=80
[log]
uselogfile=0
autodelete=0
mbdelete=1
logtype=0
logfile=
"""


def large_settings(size):
    """The 25 settings, then filler sections up to `size` bytes."""
    parts = [SETTINGS]
    total = len(SETTINGS)
    n = 0
    while total < size:
        block = f"[filler{n}]\nname=filler section number {n}\nvalue={n * 7919 % 100000}\n"
        parts.append(block)
        total += len(block)
        n += 1
    return "".join(parts)


def large_store(size):
    """A valid Wine registry text with many keys under HKCU, up to `size` bytes."""
    parts = ["WINE REGISTRY Version 2\n", ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n",
             "\n", "#arch=win32\n", "\n"]
    total = sum(len(p) for p in parts)
    n = 0
    while total < size:
        block = (f"[Software\\\\Filler\\\\Key{n}] 1700000000\n"
                 f"#time=1da0000000000000\n"
                 f"\"Value\"=\"text of filler key {n}\"\n"
                 f"\"Number\"=dword:{n & 0xFFFFFFFF:08x}\n\n")
        parts.append(block)
        total += len(block)
        n += 1
    return "".join(parts)


def one_run(sandbox, desktop, processes, settings_text, store_text):
    """Start and exit times (ms) of one run, or None for a run that failed."""
    sandbox.ini_path.write_text(settings_text)
    sandbox.store_path.parent.mkdir(parents=True, exist_ok=True)
    if store_text is None:
        sandbox.store_path.unlink(missing_ok=True)
    else:
        sandbox.store_path.write_text(store_text)
    sandbox.hand_over()  # the files are the user's who runs the program (not root)
    time.sleep(0.2)  # the files settle, as files written long before a start have
    started = time.monotonic()
    proc = processes.start(harness.as_user([str(sandbox.program)], sandbox.user), desktop.env,
                           log_path=sandbox.artifacts / "flowbright.log")
    shown = None
    deadline = started + 60
    while time.monotonic() < deadline and proc.poll() is None:
        if desktop.visible_windows(WINDOW_NAME):
            shown = time.monotonic()
            break
        time.sleep(0.005)
    if shown is None:
        processes.end(proc)
        return None
    harness.check_unprivileged(proc.pid, sandbox.user)  # fails loudly on a run as root
    time.sleep(0.5)  # let it settle into its timers
    asked = time.monotonic()
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=60)
        ended = time.monotonic()
    except Exception:  # noqa: BLE001 - a hung exit is reported, then ended
        processes.end(proc)
        return (shown - started) * 1000, None
    processes.end(proc)
    return (shown - started) * 1000, (ended - asked) * 1000


def report(name, results):
    starts = [r[0] for r in results if r is not None]
    exits = [r[1] for r in results if r is not None and r[1] is not None]
    failed = sum(1 for r in results if r is None or r[1] is None)

    def figure(values):
        if not values:
            return "      -  "
        median = statistics.median(values)
        mark = "  " if median <= TARGET_MS else " !"
        return f"{median:7.0f}{mark}"
    runs = ", ".join("-" if r is None else f"{r[0]:.0f}/" + ("-" if r[1] is None else f"{r[1]:.0f}")
                     for r in results)
    print(f"{name:<24} start {figure(starts)} ms   exit {figure(exits)} ms   "
          f"(runs start/exit: {runs}){'  failed: ' + str(failed) if failed else ''}")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", help="build directory holding the flowbright program")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--size-mb", type=float, default=10)
    args = parser.parse_args()
    program = Path(args.build) / "flowbright"
    if not program.is_file():
        sys.exit(f"{program}: no such program (build the flowbright target first)")
    size = int(args.size_mb * 1024 * 1024)
    configurations = [
        ("small files", SETTINGS, None),
        ("large settings file", large_settings(size), None),
        ("large registry store", SETTINGS, large_store(size)),
        ("both large", large_settings(size), large_store(size)),
    ]
    artifacts = Path(tempfile.mkdtemp(prefix="fb-bench-files-"))
    sandbox = harness.Sandbox(program, artifacts)
    processes = harness.Processes(sandbox.token)
    results = {name: [] for name, _, _ in configurations}
    try:
        desktop = harness.Desktop(sandbox, processes, first_display=190)
        for _ in range(args.runs):
            for name, settings_text, store_text in configurations:
                results[name].append(one_run(sandbox, desktop, processes, settings_text,
                                             store_text))
    finally:
        for proc in list(processes.started):
            processes.end(proc)
        sandbox.cleanup()
    print(f"Flowbright with {args.size_mb:g} MB files, median of {args.runs} runs "
          f"(target {TARGET_MS} ms; '!' marks a figure over it); logs in {artifacts}")
    for name, _, _ in configurations:
        report(name, results[name])


if __name__ == "__main__":
    main()
