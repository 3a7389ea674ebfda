#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Whole-program figures of Flowbright: start-up time, CPU use shown and hidden, peak memory.

The program (installed into a temporary prefix, or the build's own binary with --no-install)
runs on a virtual desktop of this script's own (Xvfb from :170 up, openbox, trayer, a session
bus), in a throwaway HOME / XDG_CONFIG_HOME / WINEPREFIX whose registry store holds a P2P client
(eMule under Wine), so that the program starts accelerating: statistics every second, a sample
every 500 ms and the graph redrawn every 100 ms while the window is shown.

One run of a program:
  1. launch; the start-up time ends when the program's main window becomes viewable (its first
     Expose event, which the X server sends when the window and all its ancestors are mapped);
     its first paint (first DAMAGE event) is reported beside it;
  2. shown: after a warm-up, the CPU time of the process over a fixed window;
  3. Escape to the window, which must then be unmapped (hidden to the tray); after a warm-up,
     the CPU time over the same fixed window;
  4. peak memory (VmHWM), then SIGTERM.

The figures are medians of several runs. The floor is the smallest Qt Widgets program showing
one empty window of the same size (bench/empty_window.cpp, target fb_empty_window), measured
the same way in the same session. As root, Flowbright also runs in network namespaces of the
script's own: one with a veth pair (the baseline) and one with 1,000 links (that veth pair plus
499 more), to see what the number of interfaces costs.

Runs of the configurations are interleaved (run 1 of each, then run 2 of each, ...), so that
a change in the machine's load spreads over all of them alike.

Only the Python standard library is used: the X event watcher speaks the X11 protocol itself.
Every process the script starts runs in a session of its own and carries a token in its
environment; cleanup ends those sessions and then any process still carrying the token (a
service the session bus started for us), by process id, and deletes the namespaces it made.
"""

import argparse
import contextlib
import json
import os
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import uuid
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
# The end-to-end suite's harness: its process bookkeeping and its desktop.
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import harness  # noqa: E402

CLK_TCK = os.sysconf("SC_CLK_TCK")
MIB = 1024 * 1024

# Targets for Flowbright on a plain machine.
TARGETS = {
    "startup_s": 0.300,
    "shown_cpu_s_per_min": 6.0 / 60.0,
    "hidden_cpu_s_per_min": 1.0 / 60.0,
    "peak_mb": 30.0,
}
MANY_LINKS_TOLERANCE_PERCENT = 5.0
# CPU figures this small are within the noise of the machine; a percentage of them says nothing.
CPU_NOISE_FLOOR_S_PER_MIN = 0.002


def log(message):
    print(message, file=sys.stderr, flush=True)


# ---- A minimal X11 client ---------------------------------------------------------------------

class XWatcher(threading.Thread):
    """Watches the top-level windows of an X display: creation, mapping, first Expose, unmapping
    and (with the DAMAGE extension) every update of their contents, each stamped with
    time.monotonic() when the event arrives. The thread blocks on the socket, so an event is
    stamped within the scheduling latency of the machine (well under a millisecond when idle);
    nothing is polled."""

    CW_EVENT_MASK = 1 << 11
    EXPOSURE_MASK = 1 << 15
    STRUCTURE_NOTIFY_MASK = 1 << 17
    SUBSTRUCTURE_NOTIFY_MASK = 1 << 19

    EXPOSE, CREATE_NOTIFY, DESTROY_NOTIFY, UNMAP_NOTIFY, MAP_NOTIFY = 12, 16, 17, 18, 19
    CONFIGURE_NOTIFY, GENERIC_EVENT = 22, 35

    def __init__(self, display_number):
        super().__init__(name="x-watcher", daemon=True)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(f"/tmp/.X11-unix/X{display_number}")
        self.cond = threading.Condition()
        self.windows = {}
        self.pending = {}  # request sequence -> callback(reply bytes or None on error)
        self.send_lock = threading.Lock()
        self.seq = 0
        self.next_id = 0
        self.closed = False
        self._setup()
        self.net_wm_pid = self._intern_atom("_NET_WM_PID")
        self.damage_opcode, self.damage_event = self._query_damage()
        self._request(struct.pack("<BxHII", 2, 4, self.root, self.CW_EVENT_MASK)
                      + struct.pack("<I", self.SUBSTRUCTURE_NOTIFY_MASK))

    # Connection set-up and synchronous requests (before the thread starts).
    def _recv_exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise ConnectionError("X connection closed")
            data += chunk
        return data

    def _setup(self):
        self.sock.sendall(struct.pack("<BxHHHHxx", 0x6C, 11, 0, 0, 0))
        head = self._recv_exact(8)
        status, extra = head[0], struct.unpack_from("<H", head, 6)[0]
        body = self._recv_exact(extra * 4)
        if status != 1:
            reason = body[: head[1]].decode(errors="replace")
            raise ConnectionError(f"X server refused the connection: {reason}")
        self.id_base, self.id_mask = struct.unpack_from("<II", body, 4)
        vendor_len = struct.unpack_from("<H", body, 16)[0]
        formats = body[21]
        offset = 32 + (vendor_len + 3) // 4 * 4 + 8 * formats
        self.root = struct.unpack_from("<I", body, offset)[0]

    def _new_id(self):
        self.next_id += 1
        low = self.id_mask & -self.id_mask
        return self.id_base | ((self.next_id * low) & self.id_mask)

    def _request(self, data, callback=None):
        """Sends one request; `callback` receives its reply (None for an error)."""
        with self.send_lock:
            self.seq = (self.seq + 1) & 0xFFFF
            if callback is not None:
                self.pending[self.seq] = callback
            self.sock.sendall(data)
            return self.seq

    def _read_packet(self):
        head = self._recv_exact(32)
        kind = head[0] & 0x7F
        if head[0] == 1 or kind == self.GENERIC_EVENT:
            extra = struct.unpack_from("<I", head, 4)[0]
            if extra:
                head += self._recv_exact(extra * 4)
        return head

    def _roundtrip(self, data):
        seq = self._request(data)
        while True:
            packet = self._read_packet()
            if packet[0] in (0, 1) and struct.unpack_from("<H", packet, 2)[0] == seq:
                return packet if packet[0] == 1 else None

    @staticmethod
    def _padded(name):
        raw = name.encode()
        return raw + b"\0" * (-len(raw) % 4)

    def _intern_atom(self, name):
        body = self._padded(name)
        reply = self._roundtrip(struct.pack("<BBHHxx", 16, 0, 2 + len(body) // 4, len(name)) + body)
        return struct.unpack_from("<I", reply, 8)[0]

    def _query_damage(self):
        body = self._padded("DAMAGE")
        reply = self._roundtrip(struct.pack("<BxHHxx", 98, 2 + len(body) // 4, 6) + body)
        if reply is None or not reply[8]:
            return None, None
        opcode, first_event = reply[9], reply[10]
        # The version must be agreed on before any other DAMAGE request.
        if self._roundtrip(struct.pack("<BBHII", opcode, 0, 3, 1, 1)) is None:
            return None, None
        return opcode, first_event

    # The event thread.
    def run(self):
        try:
            while True:
                self._dispatch(self._read_packet())
        except (ConnectionError, OSError):
            pass
        finally:
            with self.cond:
                self.closed = True
                self.cond.notify_all()

    def close(self):
        with contextlib.suppress(OSError):
            self.sock.shutdown(socket.SHUT_RDWR)
        self.join(timeout=5)
        self.sock.close()

    def _new_record(self, window, created):
        # The server hands a closed connection's identifiers to later clients: a window created
        # with the identifier of an earlier one starts a record of its own.
        self.windows[window] = {
            "id": window, "created": created, "maps": [], "unmaps": [], "first_expose": None,
            "pid": None, "width": None, "height": None, "damage": [], "damage_stamps": set()}

    def _dispatch(self, packet):
        now = time.monotonic()
        code = packet[0] & 0x7F
        if code in (0, 1):
            seq = struct.unpack_from("<H", packet, 2)[0]
            callback = self.pending.pop(seq, None)
            if callback is not None:
                with self.cond:
                    callback(packet if code == 1 else None)
                    self.cond.notify_all()
            return
        with self.cond:
            if code == self.CREATE_NOTIFY:
                parent, window = struct.unpack_from("<II", packet, 4)
                if parent == self.root:
                    self._new_record(window, now)
                    self._watch(window)
            elif code == self.MAP_NOTIFY:
                event_window, window = struct.unpack_from("<II", packet, 4)
                if window in self.windows and event_window == window:
                    self.windows[window]["maps"].append(now)
                    self._ask_identity(window)
            elif code == self.UNMAP_NOTIFY:
                event_window, window = struct.unpack_from("<II", packet, 4)
                if window in self.windows and event_window == window:
                    self.windows[window]["unmaps"].append(now)
            elif code == self.EXPOSE:
                window = struct.unpack_from("<I", packet, 4)[0]
                record = self.windows.get(window)
                if record is not None and record["first_expose"] is None:
                    record["first_expose"] = now
            elif code == self.CONFIGURE_NOTIFY:
                event_window, window = struct.unpack_from("<II", packet, 4)
                record = self.windows.get(window)
                if record is not None and event_window == window:
                    record["width"], record["height"] = struct.unpack_from("<HH", packet, 20)
            elif self.damage_event is not None and code == self.damage_event:
                window = struct.unpack_from("<I", packet, 4)[0]
                stamp = struct.unpack_from("<I", packet, 12)[0]
                record = self.windows.get(window)
                # One update of a window may damage several rectangles at one server time.
                if record is not None and stamp not in record["damage_stamps"]:
                    record["damage_stamps"].add(stamp)
                    record["damage"].append(now)
            self.cond.notify_all()

    def _watch(self, window):
        # An error (the window is gone already) arrives as an error packet and is ignored.
        self._request(struct.pack("<BxHII", 2, 4, window, self.CW_EVENT_MASK)
                      + struct.pack("<I", self.STRUCTURE_NOTIFY_MASK | self.EXPOSURE_MASK))
        if self.damage_opcode is not None:
            # Level 0: an event for every rectangle drawn.
            self._request(struct.pack("<BBHIIB3x", self.damage_opcode, 1, 4, self._new_id(),
                                      window, 0))

    def _ask_identity(self, window):
        record = self.windows[window]

        def on_pid(reply):
            if reply is not None and reply[1] == 32 and struct.unpack_from("<I", reply, 16)[0]:
                record["pid"] = struct.unpack_from("<I", reply, 32)[0]

        def on_geometry(reply):
            if reply is not None:
                record["width"], record["height"] = struct.unpack_from("<HH", reply, 16)

        self._request(struct.pack("<BBHIIIII", 20, 0, 6, window, self.net_wm_pid, 0, 0, 1), on_pid)
        self._request(struct.pack("<BxHI", 14, 2, window), on_geometry)

    # For the main thread.
    def wait(self, predicate, timeout):
        """Waits until predicate() (called under the lock) returns a true value."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                value = predicate()
                if value or self.closed:
                    return value
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return value
                self.cond.wait(remaining)

    def snapshot(self, window):
        with self.cond:
            record = dict(self.windows[window])
            record["damage"] = list(record["damage"])
            return record


def run_quiet(argv, env=None, timeout=30, input_text=None):
    return subprocess.run(argv, env=env, input=input_text, capture_output=True, text=True,
                          timeout=timeout, check=False)


# ---- /proc figures ----------------------------------------------------------------------------

def session_of(pid):
    try:
        text = Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return None
    return int(text[text.rindex(")") + 2:].split()[3])


def cpu_sample(pid):
    """CPU time of a process: utime+stime of /proc/<pid>/stat (all threads, the ended ones
    included; whole clock ticks) and the run time of each live thread from
    /proc/<pid>/task/<tid>/schedstat (nanoseconds)."""
    text = Path(f"/proc/{pid}/stat").read_text()
    fields = text[text.rindex(")") + 2:].split()
    ticks = int(fields[11]) + int(fields[12])
    threads = {}
    names = {}
    switches = {}
    with contextlib.suppress(OSError):
        for tid in os.listdir(f"/proc/{pid}/task"):
            with contextlib.suppress(OSError, ValueError, IndexError):
                threads[tid] = int(Path(f"/proc/{pid}/task/{tid}/schedstat").read_text().split()[0])
                names[tid] = Path(f"/proc/{pid}/task/{tid}/comm").read_text().strip()
                for line in Path(f"/proc/{pid}/task/{tid}/status").read_text().splitlines():
                    if line.startswith("voluntary_ctxt_switches:"):
                        switches[tid] = int(line.split()[1])
    return {"time": time.monotonic(), "pid": pid, "stat_s": ticks / CLK_TCK, "threads": threads,
            "names": names, "switches": switches}


def wakeups_per_s(start, end):
    """Voluntary context switches of all live threads per second: how often the process
    sleeps and is woken again."""
    elapsed = end["time"] - start["time"]
    total = sum(n - start["switches"].get(tid, 0) for tid, n in end["switches"].items())
    return total / elapsed


def cpu_by_thread(start, end):
    """CPU seconds per minute of each thread between two samples, by thread name (the main
    thread is the one whose id is the process id)."""
    elapsed = end["time"] - start["time"]
    out = {}
    for tid, ns in end["threads"].items():
        name = end["names"].get(tid, "?")
        if int(tid) == end["pid"]:
            name = f"{name} (main)"
        rate = (ns - start["threads"].get(tid, 0)) / 1e9 / elapsed * 60.0
        out[name] = out.get(name, 0.0) + rate
    return out


def cpu_rate(start, end):
    """CPU seconds per minute between two samples: (precise, from /proc/<pid>/stat, threads
    that ended in between)."""
    elapsed = end["time"] - start["time"]
    precise_ns = sum(ns - start["threads"].get(tid, 0) for tid, ns in end["threads"].items())
    ended = sorted(set(start["threads"]) - set(end["threads"]))
    precise = precise_ns / 1e9 / elapsed * 60.0
    from_stat = (end["stat_s"] - start["stat_s"]) / elapsed * 60.0
    return precise, from_stat, ended


def memory_status(pid):
    values = {}
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        key, _, rest = line.partition(":")
        if key in ("VmHWM", "VmRSS", "RssAnon", "RssFile", "RssShmem", "Threads"):
            number = int(rest.split()[0])
            values[key] = number if key == "Threads" else number * 1024 / MIB
    return values


def rss_by_mapping(pid, top=15):
    """Resident MB of a process by mapped file (anonymous memory, heap and stacks by their
    labels), largest first."""
    sizes = {}
    name = None
    with contextlib.suppress(OSError):
        for line in Path(f"/proc/{pid}/smaps").read_text().splitlines():
            first = line.split(None, 1)[0] if line else ""
            if "-" in first and not first.endswith(":"):
                parts = line.split(None, 5)
                name = parts[5].strip() if len(parts) > 5 else "[anonymous]"
            elif first == "Rss:" and name is not None:
                sizes[name] = sizes.get(name, 0.0) + int(line.split()[1]) * 1024 / MIB
    ranked = sorted(sizes.items(), key=lambda item: -item[1])
    return {Path(k).name if k.startswith("/") else k: round(v, 2) for k, v in ranked[:top]}


# ---- Sandbox, desktop, namespaces -------------------------------------------------------------

class Sandbox:
    """A throwaway home with a Wine prefix holding eMule, the store naming it as the client."""

    STORE = {
        "Software\\eMule": {"Install Path": "C:\\Program Files\\eMule"},
        "SOFTWARE\\Flowbright": {"APP_NAME": "Emule"},
    }

    def __init__(self, root, token):
        self.token = token
        self.root = Path(root)
        self.home = self.root / "home"
        self.config = self.home / ".config"
        self.runtime = self.root / "runtime"
        self.wineprefix = self.home / ".wine"
        self.artifacts = self.root / "logs"
        for d in (self.config, self.home / ".local/share", self.home / ".cache", self.artifacts,
                  self.wineprefix / "drive_c/Program Files/eMule", self.wineprefix / "dosdevices"):
            d.mkdir(parents=True, exist_ok=True)
        self.runtime.mkdir(mode=0o700)
        os.symlink("../drive_c", self.wineprefix / "dosdevices" / "c:")
        (self.wineprefix / "drive_c/Program Files/eMule/eMule.exe").write_bytes(b"MZ\x90\x00")
        self.store_path = self.config / "flowbright" / "registry.reg"

    def reset_store(self):
        """Every run starts from the same store (the program writes its options on hiding)."""
        self.store_path.parent.mkdir(parents=True, exist_ok=True)
        self.store_path.write_text(harness.registry_text(self.STORE), encoding="utf-8")

    def env(self, display=None, bus=None):
        env = harness.home_env(self, "/usr/local/bin:/usr/bin:/bin", display, bus)
        env["FB_MEASURE_TOKEN"] = self.token
        return env


class Desktop(harness.Desktop):
    """The suite's desktop (Xvfb from :170 up, openbox, trayer, a session bus); it keeps
    `display_number` and the Xvfb process `xvfb`, whose CPU time is measured too."""

    def __init__(self, sandbox, processes):
        super().__init__(sandbox, processes, first_display=170)

    def hide_with_escape(self, window):
        self.x(["xdotool", "windowactivate", "--sync", str(window)], check_rc=False, timeout=10)
        self.x(["xdotool", "key", "Escape"], check_rc=False, timeout=10)


class NetNamespace(harness.NetNamespace):
    """A network namespace of the script's own: `pairs` veth pairs, all up, the first pair
    addressed (10.231.0.1/24 and .2), so that the program has an adapter with an address, and
    (unless `default_route` is false) a default route through the first link, as a connected
    machine has one. Running a program inside it and the check that namespaces can be made
    are the end-to-end suite's."""

    def __init__(self, name, pairs, default_route=True):
        self.name = name
        result = run_quiet(["ip", "netns", "add", name])
        if result.returncode != 0:
            raise RuntimeError(f"ip netns add {name}: {result.stderr.strip()}")
        try:
            lines = [f"link add fbm{i}a type veth peer name fbm{i}b" for i in range(pairs)]
            lines += ["link set dev lo up"]
            lines += [f"link set dev fbm{i}{side} up" for i in range(pairs) for side in "ab"]
            lines += ["address add 10.231.0.1/24 dev fbm0a", "address add 10.231.0.2/24 dev fbm0b"]
            if default_route:
                lines += ["route add default dev fbm0a"]
            result = run_quiet(["ip", "-n", name, "-batch", "-"], input_text="\n".join(lines) + "\n",
                               timeout=300)
            if result.returncode != 0:
                raise RuntimeError(f"ip -batch in {name}: {result.stderr.strip()[-500:]}")
            self.links = len(run_quiet(["ip", "-n", name, "-o", "link"]).stdout.splitlines())
        except BaseException:
            self.close()
            raise

    def close(self):
        # A thousand links take the kernel a while to tear down.
        run_quiet(["ip", "netns", "del", self.name], timeout=120)


# ---- One run ------------------------------------------------------------------------------------

class Config:
    def __init__(self, key, label, program, argv_extra=(), netns=None, is_flowbright=True):
        self.key = key
        self.label = label
        self.program = program
        self.argv_extra = list(argv_extra)
        self.netns = netns
        self.is_flowbright = is_flowbright
        self.runs = []
        self.failures = []

    def argv(self):
        argv = [str(self.program)] + self.argv_extra
        return self.netns.wrap(argv) if self.netns is not None else argv


class RunFailed(RuntimeError):
    pass


def main_window_of(watcher, session, min_size=100):
    """The viewable top-level window of the program started in session `session`."""
    for window, record in watcher.windows.items():
        if record["first_expose"] is None or record["pid"] is None or not record["width"]:
            continue
        if record["width"] < min_size or record["height"] < min_size:
            continue
        if record["pid"] == session or session_of(record["pid"]) == session:
            return window
    return None


def diagnosis(watcher, proc, log_path):
    """What the watcher saw of the program's windows, its state and the end of its output."""
    lines = []
    with watcher.cond:
        for window, record in watcher.windows.items():
            if record["pid"] is not None and (record["pid"] == proc.pid
                                              or session_of(record["pid"]) == proc.pid):
                lines.append(f"window 0x{window:x}: {record['width']}x{record['height']}, "
                             f"maps {len(record['maps'])}, exposed "
                             f"{record['first_expose'] is not None}")
    with contextlib.suppress(OSError):
        status = Path(f"/proc/{proc.pid}/status").read_text().splitlines()
        wchan = Path(f"/proc/{proc.pid}/wchan").read_text()
        lines.append(f"process: {status[2].strip()}, wchan {wchan}")
    with contextlib.suppress(OSError):
        lines += Path(log_path).read_text(errors="replace").splitlines()[-15:]
    return "".join(f"\n    {line}" for line in lines)


def phase_figures(phase, pid, desktop, watcher, window, seconds, warmup):
    """After `warmup` seconds, the CPU time of the program and of the X server, the program's
    wake-ups and the window's updates over `seconds`; the keys start with `phase`."""
    time.sleep(warmup)
    start, x_start = cpu_sample(pid), cpu_sample(desktop.xvfb.pid)
    updates_before = len(watcher.snapshot(window)["damage"])
    time.sleep(seconds)
    end, x_end = cpu_sample(pid), cpu_sample(desktop.xvfb.pid)
    updates_after = len(watcher.snapshot(window)["damage"])
    precise, from_stat, ended = cpu_rate(start, end)
    elapsed = end["time"] - start["time"]
    return {
        f"{phase}_cpu_s_per_min": precise,
        f"{phase}_cpu_stat_s_per_min": from_stat,
        f"{phase}_threads_ended": ended,
        f"{phase}_cpu_by_thread": cpu_by_thread(start, end),
        f"{phase}_wakeups_per_s": wakeups_per_s(start, end),
        f"{phase}_updates_per_s": (updates_after - updates_before) / elapsed,
        f"{phase}_xserver_cpu_s_per_min": cpu_rate(x_start, x_end)[0],
    }


def one_run(config, desktop, watcher, processes, sandbox, seconds, warmup, short=False):
    """Runs the program once and returns its figures; `short` only waits for the window."""
    sandbox.reset_store()
    ini = Path(config.program).with_suffix(".ini")
    with contextlib.suppress(FileNotFoundError):
        ini.unlink()
    log_path = sandbox.artifacts / f"{config.key}.log"
    launched = time.monotonic()
    proc = processes.start(config.argv(), desktop.env, log_path=log_path, cwd=str(sandbox.home))
    try:
        window = watcher.wait(lambda: main_window_of(watcher, proc.pid), 30)
        if window is None:
            raise RunFailed(f"{config.label}: no window within 30 s (exit status {proc.poll()})"
                            + diagnosis(watcher, proc, log_path))
        record = watcher.snapshot(window)
        pid = record["pid"]
        figures = {
            "startup_s": record["first_expose"] - launched,
            "window_created_s": record["created"] - launched if record["created"] else None,
            "window_mapped_s": record["maps"][0] - launched if record["maps"] else None,
            "window_size": [record["width"], record["height"]],
        }
        painted = watcher.wait(lambda: watcher.windows[window]["damage"], 5)
        figures["first_paint_s"] = painted[0] - launched if painted else None
        if short:
            return figures

        # Shown.
        figures.update(phase_figures("shown", pid, desktop, watcher, window, seconds, warmup))

        # Hidden.
        unmaps_before = len(record["unmaps"])
        desktop.hide_with_escape(window)
        hidden = watcher.wait(lambda: len(watcher.windows[window]["unmaps"]) > unmaps_before, 10)
        if not hidden:
            raise RunFailed(f"{config.label}: the window was not hidden by Escape")
        figures.update(phase_figures("hidden", pid, desktop, watcher, window, seconds, warmup))
        memory = memory_status(pid)
        figures.update({"peak_mb": memory.get("VmHWM"), "rss_mb": memory.get("VmRSS"),
                        "rss_anon_mb": memory.get("RssAnon"), "rss_file_mb": memory.get("RssFile"),
                        "rss_shmem_mb": memory.get("RssShmem"), "threads": memory.get("Threads"),
                        "rss_by_mapping_mb": rss_by_mapping(pid)})
        if proc.poll() is not None:
            raise RunFailed(f"{config.label}: the program ended during the run")
        return figures
    finally:
        processes.end(proc, grace=10.0)


# ---- Profiles ------------------------------------------------------------------------------------

def wait_window(watcher, proc, timeout, label):
    window = watcher.wait(lambda: main_window_of(watcher, proc.pid), timeout)
    if window is None:
        raise RunFailed(f"{label}: no window within {timeout:.0f} s (exit status {proc.poll()})")
    return window, watcher.snapshot(window)["pid"]


def hide(desktop, watcher, window, label):
    unmaps = len(watcher.snapshot(window)["unmaps"])
    desktop.hide_with_escape(window)
    if not watcher.wait(lambda: len(watcher.windows[window]["unmaps"]) > unmaps, 30):
        raise RunFailed(f"{label}: the window was not hidden by Escape")


def annotate(dump, out_path):
    """The top functions of a callgrind dump, by own cost and by inclusive cost."""
    texts = []
    for inclusive in ("no", "yes"):
        result = run_quiet(["callgrind_annotate", f"--inclusive={inclusive}", "--threshold=99",
                            str(dump)], timeout=300)
        lines = result.stdout.splitlines()
        texts.append(f"==== inclusive={inclusive} ====\n" + "\n".join(lines[:80]))
    out_path.write_text("\n\n".join(texts) + "\n", encoding="utf-8")
    return out_path


def each_window(desktop, watcher, window, label, settle):
    """The shown window, then the hidden one, each after `settle` seconds for the program to
    reach its steady state."""
    for phase in ("shown", "hidden"):
        if phase == "hidden":
            hide(desktop, watcher, window, label)
        time.sleep(settle)
        yield phase


def trace_for(processes, tracer, seconds, timeout):
    """Lets an attached tracer run for `seconds`, then interrupts it as at Ctrl+C, which is
    when it writes its report."""
    time.sleep(seconds)
    with contextlib.suppress(ProcessLookupError):
        tracer.send_signal(signal.SIGINT)
    with contextlib.suppress(subprocess.TimeoutExpired):
        tracer.wait(timeout=timeout)
    processes.end(tracer, grace=5.0)


def profile_callgrind(config, desktop, watcher, processes, sandbox, seconds, warmup, out_dir):
    """One run under callgrind, instrumented only during the shown and the hidden windows."""
    if shutil.which("valgrind") is None or shutil.which("callgrind_control") is None:
        raise RuntimeError("valgrind (callgrind) is not installed")
    sandbox.reset_store()
    prefix = ["valgrind", "--tool=callgrind", "--separate-threads=no",
              f"--callgrind-out-file={out_dir}/callgrind.out.%p"]
    argv = prefix + [str(config.program)] + config.argv_extra
    if config.netns is not None:
        argv = config.netns.wrap(argv)
    proc = processes.start(argv, desktop.env, log_path=out_dir / "callgrind.log",
                           cwd=str(sandbox.home))
    control_log = out_dir / "callgrind_control.log"

    def control(option, pid):
        result = run_quiet(["callgrind_control", option, str(pid)], env=desktop.env, timeout=60)
        with open(control_log, "a", encoding="utf-8") as f:
            f.write(f"$ callgrind_control {option} {pid}\n{result.stdout}{result.stderr}")

    try:
        window, pid = wait_window(watcher, proc, 240, config.label)
        # Start-up: from the launch to the shown window.
        control("--dump=startup", pid)
        control("--instr=off", pid)
        reports = []
        dumps = sorted(out_dir.glob(f"callgrind.out.{pid}.*"), key=lambda p: p.stat().st_mtime)
        if dumps:
            reports.append(annotate(dumps[-1], out_dir / f"callgrind-{config.key}-startup.txt"))
        # Everything runs far slower under valgrind.
        for phase in each_window(desktop, watcher, window, config.label, warmup * 3):
            control("--instr=on", pid)
            control("--zero", pid)
            time.sleep(seconds)
            control(f"--dump={phase}", pid)
            control("--instr=off", pid)
            dumps = sorted(out_dir.glob(f"callgrind.out.{pid}.*"), key=lambda p: p.stat().st_mtime)
            if dumps:
                reports.append(annotate(dumps[-1], out_dir / f"callgrind-{config.key}-{phase}.txt"))
        return reports
    finally:
        processes.end(proc, grace=30.0)


def profile_strace(config, desktop, watcher, processes, sandbox, seconds, warmup, out_dir):
    """System calls of every thread over the shown and the hidden windows (strace -c -f)."""
    if shutil.which("strace") is None:
        raise RuntimeError("strace is not installed")
    # Start-up: the program started under strace, ended once its window is shown.
    sandbox.reset_store()
    startup = out_dir / f"strace-{config.key}-startup.txt"
    argv = ["strace", "-f", "-c", "-o", str(startup), str(config.program)] + config.argv_extra
    if config.netns is not None:
        argv = config.netns.wrap(argv)
    proc = processes.start(argv, desktop.env, log_path=out_dir / "strace.log",
                           cwd=str(sandbox.home))
    try:
        window, pid = wait_window(watcher, proc, 60, config.label)
        os.kill(pid, signal.SIGTERM)
        proc.wait(timeout=30)
    finally:
        processes.end(proc, grace=10.0)
    reports = [startup]

    sandbox.reset_store()
    proc = processes.start(config.argv(), desktop.env, log_path=out_dir / "program.log",
                           cwd=str(sandbox.home))
    try:
        window, pid = wait_window(watcher, proc, 30, config.label)
        for phase in each_window(desktop, watcher, window, config.label, warmup):
            out = out_dir / f"strace-{config.key}-{phase}.txt"
            tracer = processes.start(["strace", "-c", "-f", "-o", str(out), "-p", str(pid)],
                                     desktop.env, log_path=out_dir / "strace.log")
            trace_for(processes, tracer, seconds, timeout=30)
            reports.append(out)
        return reports
    finally:
        processes.end(proc, grace=10.0)


def profile_perf(config, desktop, watcher, processes, sandbox, seconds, warmup, out_dir):
    """Where the time goes, kernel included: perf record of every thread over each window."""
    if shutil.which("perf") is None:
        log("perf is not installed: no perf profile")
        return []
    sandbox.reset_store()
    proc = processes.start(config.argv(), desktop.env, log_path=out_dir / "program-perf.log",
                           cwd=str(sandbox.home))
    reports = []
    try:
        window, pid = wait_window(watcher, proc, 30, config.label)
        for phase in each_window(desktop, watcher, window, config.label, warmup):
            data = out_dir / f"perf-{config.key}-{phase}.data"
            recorder = processes.start(["perf", "record", "-q", "-g", "-F", "4999", "-o",
                                        str(data), "-p", str(pid)],
                                       desktop.env, log_path=out_dir / "perf.log")
            trace_for(processes, recorder, seconds, timeout=60)
            out = out_dir / f"perf-{config.key}-{phase}.txt"
            result = run_quiet(["perf", "report", "-i", str(data), "--stdio", "--no-children",
                                "--sort", "dso,symbol", "--percent-limit", "0.5", "-g", "none"],
                               timeout=120)
            out.write_text(result.stdout + result.stderr, encoding="utf-8")
            reports.append(out)
        return reports
    finally:
        processes.end(proc, grace=10.0)


# ---- Summary ------------------------------------------------------------------------------------

FIGURES = [
    ("startup_s", "start-up to viewable window", "s", 3),
    ("first_paint_s", "start-up to first paint", "s", 3),
    ("shown_cpu_s_per_min", "CPU shown, accelerating", "s/min", 4),
    ("hidden_cpu_s_per_min", "CPU hidden in the tray", "s/min", 4),
    ("peak_mb", "peak memory (VmHWM)", "MB", 1),
    ("shown_cpu_stat_s_per_min", "CPU shown, /proc/pid/stat", "s/min", 3),
    ("hidden_cpu_stat_s_per_min", "CPU hidden, /proc/pid/stat", "s/min", 3),
    ("shown_updates_per_s", "window updates/s shown", "1/s", 1),
    ("hidden_updates_per_s", "window updates/s hidden", "1/s", 1),
    ("shown_wakeups_per_s", "wake-ups/s shown", "1/s", 1),
    ("hidden_wakeups_per_s", "wake-ups/s hidden", "1/s", 1),
    ("shown_xserver_cpu_s_per_min", "X server CPU, shown", "s/min", 4),
    ("hidden_xserver_cpu_s_per_min", "X server CPU, hidden", "s/min", 4),
    ("rss_anon_mb", "anonymous RSS at end", "MB", 1),
    ("rss_file_mb", "file-backed RSS at end", "MB", 1),
    ("threads", "threads", "", 0),
]
COMPARED = ["startup_s", "shown_cpu_s_per_min", "hidden_cpu_s_per_min", "peak_mb"]


def medians(runs):
    out = {}
    for key, *_ in FIGURES:
        values = [r[key] for r in runs if r.get(key) is not None]
        out[key] = statistics.median(values) if values else None
    for phase in ("shown", "hidden"):
        names = sorted({name for r in runs for name in r.get(f"{phase}_cpu_by_thread", {})})
        out[f"{phase}_cpu_by_thread"] = {
            name: statistics.median(r.get(f"{phase}_cpu_by_thread", {}).get(name, 0.0)
                                    for r in runs) for name in names}
    out["startup_s_range"] = [min(r["startup_s"] for r in runs), max(r["startup_s"] for r in runs)] \
        if runs else None
    return out


def percent(value, base, noise=0.0):
    if value is None or base is None or base == 0:
        return None
    if max(abs(value), abs(base)) < noise:
        return None
    return (value - base) / base * 100.0


def build_report(configs, args, resolution_note):
    report = {
        "date": time.strftime("%Y-%m-%dT%H:%M:%S%z"),
        "machine": {"cpus": os.cpu_count(), "kernel": os.uname().release,
                    "loadavg_at_end": os.getloadavg()},
        "settings": {"runs": args.runs, "seconds": args.seconds, "warmup": args.warmup,
                     "links": args.links, "default_route": not args.no_default_route},
        "method": {
            "startup": resolution_note,
            "cpu": "schedstat run time of every thread (ns) over the fixed window after the "
                   "warm-up; utime+stime of /proc/<pid>/stat (10 ms ticks) beside it",
            "memory": "VmHWM of /proc/<pid>/status after the hidden window, MB = 2^20 bytes",
        },
        "targets": TARGETS,
        "configs": {},
    }
    for config in configs:
        report["configs"][config.key] = {"label": config.label, "runs": config.runs,
                                         "failed_runs": config.failures,
                                         "median": medians(config.runs)}
    main = report["configs"].get("flowbright", {}).get("median")
    checks = []
    if main:
        for key, limit in TARGETS.items():
            value = main.get(key)
            checks.append({"figure": key, "value": value, "target": limit,
                           "met": value is not None and value <= limit})
    base = report["configs"].get("flowbright_netns", {}).get("median")
    many = report["configs"].get("flowbright_links", {}).get("median")
    if base and many:
        for key in COMPARED:
            noise = CPU_NOISE_FLOOR_S_PER_MIN if "cpu" in key else 0.0
            diff = percent(many.get(key), base.get(key), noise)
            absolute = None if many.get(key) is None or base.get(key) is None \
                else many[key] - base[key]
            checks.append({"figure": f"{key} with {args.links} links vs. baseline namespace",
                           "value": diff, "difference": absolute,
                           "target": MANY_LINKS_TOLERANCE_PERCENT,
                           "met": None if diff is None else abs(diff) <= MANY_LINKS_TOLERANCE_PERCENT})
    report["checks"] = checks
    # What the program spends beyond what any Qt Widgets program with the same window and the
    # same update rates spends.
    floors = {}
    ticking = report["configs"].get("ticking_window", {}).get("median")
    empty = report["configs"].get("empty_window", {}).get("median")
    if main and ticking:
        for key in ("shown_cpu_s_per_min", "hidden_cpu_s_per_min"):
            if main.get(key) is not None and ticking.get(key) is not None:
                floors[key] = {"program": main[key], "floor": ticking[key],
                               "above_floor": main[key] - ticking[key]}
    if main and empty and main.get("peak_mb") is not None and empty.get("peak_mb") is not None:
        floors["peak_mb"] = {"program": main["peak_mb"], "floor": empty["peak_mb"],
                             "above_floor": main["peak_mb"] - empty["peak_mb"]}
    report["above_floors"] = floors
    return report


def format_value(value, digits):
    if value is None:
        return "-"
    if isinstance(value, float):
        return f"{value:.{digits}f}"
    return str(value)


def print_table(report):
    configs = report["configs"]
    keys = list(configs)
    width = 30
    col = 16
    print()
    print(f"Medians of {report['settings']['runs']} runs, {report['settings']['seconds']:g} s "
          f"per phase after {report['settings']['warmup']:g} s of warm-up")
    print(" " * width + "".join(f"{k[:col - 1]:>{col}}" for k in keys))
    for key, label, unit, digits in FIGURES:
        name = f"{label} [{unit}]" if unit else label
        cells = "".join(f"{format_value(configs[k]['median'].get(key), digits):>{col}}" for k in keys)
        print(f"{name[:width - 1]:<{width}}{cells}")
    print()
    for k in keys:
        print(f"  {k}: {configs[k]['label']}")
    print()
    print("CPU by thread [s/min, median]")
    for k in keys:
        for phase in ("shown", "hidden"):
            parts = sorted(configs[k]["median"].get(f"{phase}_cpu_by_thread", {}).items(),
                           key=lambda item: -item[1])
            text = ", ".join(f"{name} {rate:.4f}" for name, rate in parts if rate >= 0.00005)
            print(f"  {k} {phase}: {text or '-'}")
    if report.get("above_floors"):
        print()
        print("Above the floors (CPU: the ticking window; memory: the empty window)")
        for key, entry in report["above_floors"].items():
            print(f"  {key:<30} program {entry['program']:.4f}  floor {entry['floor']:.4f}  "
                  f"above {entry['above_floor']:+.4f}")
    if report["checks"]:
        print()
        print("Targets")
        for check in report["checks"]:
            state = {True: "met", False: "MISSED", None: "n/a (below the noise floor)"}[check["met"]]
            if "links" in check["figure"]:
                value = "-" if check["value"] is None else f"{check['value']:+.1f} %"
                extra = "" if check.get("difference") is None else \
                    f" (difference {check['difference']:+.4f})"
                print(f"  {check['figure']:<58} {value:>10}{extra}  within "
                      f"±{check['target']:g} %: {state}")
            else:
                print(f"  {check['figure']:<58} {format_value(check['value'], 4):>10}  "
                      f"<= {check['target']:.4f}: {state}")


# ---- Main ---------------------------------------------------------------------------------------

def graph_client_size(width, height):
    """The size of the graph's picture in a main window of width x height pixels: the graph
    frame is 229 x 44 of the dialog's 269 x 249 units, less its 2-pixel edge on each side."""
    return max(8, round(width * 229 / 269) - 4), max(8, round(height * 44 / 249) - 4)


def prepare_programs(args, workdir):
    """The program (installed into a temporary prefix unless --no-install) and the floor."""
    build = Path(args.build).resolve()
    built = build / "flowbright"
    if not built.is_file():
        raise RuntimeError(f"{built} is missing: build the program first (make build)")
    if args.no_install:
        program = workdir / "flowbright-build" / "flowbright"
        program.parent.mkdir()
        shutil.copy2(built, program)  # its INI file is written beside it
    else:
        prefix = workdir / "usr"
        result = run_quiet(["cmake", "--install", str(build), "--prefix", str(prefix)], timeout=300)
        if result.returncode != 0:
            raise RuntimeError(f"cmake --install failed: {result.stderr.strip()[-1000:]}")
        program = prefix / "bin" / "flowbright"
    floor = build / "fb_empty_window"
    source = REPO / "bench" / "empty_window.cpp"
    if not floor.is_file() or floor.stat().st_mtime < source.stat().st_mtime:
        # Not built by the build system: compile it the way the build would.
        floor = workdir / "fb_empty_window"
        flags = run_quiet(["pkg-config", "--cflags", "--libs", "Qt6Widgets"]).stdout.split()
        if not flags:
            raise RuntimeError("pkg-config knows no Qt6Widgets; build target fb_empty_window")
        result = run_quiet(["c++", "-std=c++20", "-O2", "-fPIC", str(source), "-o", str(floor)]
                           + flags, timeout=300)
        if result.returncode != 0:
            raise RuntimeError(f"compiling the empty window failed: {result.stderr[-1000:]}")
    return program, floor


def run_profiles(args, configs, desktop, watcher, processes, sandbox):
    out_dir = Path(args.profile).resolve()
    out_dir.mkdir(parents=True, exist_ok=True)
    chosen = {c.key: c for c in configs}
    config = chosen.get("flowbright_links") if args.profile_links else chosen["flowbright"]
    if config is None:
        raise RuntimeError("--profile-links needs root and the network-namespace runs")
    reports = profile_strace(config, desktop, watcher, processes, sandbox, args.seconds,
                             args.warmup, out_dir)
    reports += profile_perf(config, desktop, watcher, processes, sandbox, args.seconds,
                            args.warmup, out_dir)
    if not args.no_callgrind:
        reports += profile_callgrind(config, desktop, watcher, processes, sandbox,
                                     args.seconds, args.warmup, out_dir)
    for report in reports:
        print(f"==== {report.name}")
        print("\n".join(report.read_text(errors="replace").splitlines()[:45]))
    return 0


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=str(REPO / "build"),
                        help="build directory holding flowbright (default: build)")
    parser.add_argument("--runs", type=int, default=5, help="runs per configuration (5)")
    parser.add_argument("--seconds", type=float, default=10.0,
                        help="measured seconds of each phase, shown and hidden (10)")
    parser.add_argument("--warmup", type=float, default=2.0,
                        help="seconds before each phase is measured (2)")
    parser.add_argument("--links", type=int, default=1000,
                        help="links in the many-links namespace, an even number (1000)")
    parser.add_argument("--no-netns", action="store_true",
                        help="skip the network-namespace runs (they need root)")
    parser.add_argument("--no-default-route", action="store_true",
                        help="no IPv4 default route in the namespaces (an offline machine)")
    parser.add_argument("--no-floor", action="store_true",
                        help="skip the floors (the empty and the ticking window)")
    parser.add_argument("--no-install", action="store_true",
                        help="run the build's binary instead of an installed copy")
    parser.add_argument("--out", default=None, help="JSON output (default: <build>/measure.json)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary directory")
    parser.add_argument("--profile", metavar="DIR", default=None,
                        help="instead of the figures: profile Flowbright (callgrind and strace "
                             "over the shown and the hidden windows) and write the reports to DIR")
    parser.add_argument("--no-callgrind", action="store_true",
                        help="with --profile: strace and perf only")
    parser.add_argument("--profile-links", action="store_true",
                        help="with --profile: run in the many-links namespace (root)")
    args = parser.parse_args(argv)
    if args.runs < 1 or args.seconds <= 0 or args.warmup < 0:
        parser.error("--runs must be at least 1, --seconds above 0, --warmup not negative")
    if args.links < 2 or args.links % 2:
        parser.error("--links must be an even number of at least 2 (veth links come in pairs)")
    return args


def main(argv=None):
    args = parse_args(argv)
    for tool in ("Xvfb", "openbox", "trayer", "xdotool", "xprop", "xdpyinfo", "dbus-daemon"):
        if shutil.which(tool) is None:
            log(f"measure: {tool} is not installed (make deps)")
            return 2

    # SIGTERM ends the script the way Ctrl-C does, through the cleanup below.
    def stop(signum, _frame):
        raise KeyboardInterrupt(f"signal {signum}")
    signal.signal(signal.SIGTERM, stop)

    token = uuid.uuid4().hex
    workdir = Path(tempfile.mkdtemp(prefix="fb-measure-"))
    processes = harness.Processes(token, token_name="FB_MEASURE_TOKEN")
    namespaces = []
    watcher = None
    try:
        program, floor = prepare_programs(args, workdir)
        sandbox = Sandbox(workdir / "sandbox", token)
        desktop = Desktop(sandbox, processes)
        watcher = XWatcher(desktop.display_number)
        watcher.start()
        resolution_note = (
            "launch (just before fork/exec) to the first Expose event of the program's main "
            "window (it is viewable: mapped, with its frame mapped), received by an X event "
            "watcher thread blocked on the X socket; time.monotonic(), sub-millisecond; first "
            "paint is its first DAMAGE event" if watcher.damage_opcode is not None else
            "launch to the first Expose event of the main window (no DAMAGE extension)")
        log(f"measure: display {desktop.display}, program {program}")

        configs = [Config("flowbright", "Flowbright, machine's own network", program)]
        if not args.no_netns:
            if NetNamespace.available():
                base = f"fbmeasure-{os.getpid()}-base"
                many = f"fbmeasure-{os.getpid()}-many"
                routed = not args.no_default_route
                namespaces.append(NetNamespace(base, 1, routed))
                log(f"measure: creating {args.links} links in namespace {many}")
                namespaces.append(NetNamespace(many, args.links // 2, routed))
                configs.append(Config("flowbright_netns", f"Flowbright, namespace with "
                                      f"{namespaces[0].links - 1} links and lo", program,
                                      netns=namespaces[0]))
                configs.append(Config("flowbright_links", f"Flowbright, namespace with "
                                      f"{namespaces[1].links - 1} links and lo", program,
                                      netns=namespaces[1]))
            else:
                log("measure: not root (or no ip): the network-namespace runs are skipped")

        if args.profile:
            return run_profiles(args, configs, desktop, watcher, processes, sandbox)

        # An untimed start of each program first: libraries and fonts in the page cache, and the
        # size of Flowbright's window for the floor.
        warm = one_run(configs[0], desktop, watcher, processes, sandbox, 0, 0, short=True)
        width, height = warm["window_size"]
        if not args.no_floor:
            configs.append(Config("empty_window", f"empty Qt window {width}x{height} (floor)",
                                  floor, argv_extra=["--size", f"{width}x{height}"],
                                  is_flowbright=False))
            graph_width, graph_height = graph_client_size(width, height)
            configs.append(Config("ticking_window", f"the same window with a {graph_width}x"
                                  f"{graph_height} picture scrolled every 100 ms while shown and "
                                  f"a timer every 500 ms (floor of the update rates)", floor,
                                  argv_extra=["--size", f"{width}x{height}", "--ticking",
                                              f"{graph_width}x{graph_height}"],
                                  is_flowbright=False))
        for config in configs[1:]:
            one_run(config, desktop, watcher, processes, sandbox, 0, 0, short=True)

        for i in range(args.runs):
            for config in configs:
                for attempt in range(3):
                    try:
                        figures = one_run(config, desktop, watcher, processes, sandbox,
                                          args.seconds, args.warmup)
                        break
                    except RunFailed as error:
                        # A run that went wrong is reported and taken again, at most twice.
                        config.failures.append(str(error))
                        log(f"measure: {error}")
                        if attempt == 2:
                            raise
                config.runs.append(figures)
                log(f"measure: run {i + 1}/{args.runs} {config.key}: start-up "
                    f"{figures['startup_s'] * 1000:.0f} ms, CPU shown "
                    f"{figures['shown_cpu_s_per_min']:.4f} s/min, hidden "
                    f"{figures['hidden_cpu_s_per_min']:.4f} s/min, peak "
                    f"{figures['peak_mb']:.1f} MB")

        report = build_report(configs, args, resolution_note)
        out = Path(args.out) if args.out else Path(args.build) / "measure.json"
        out.parent.mkdir(parents=True, exist_ok=True)
        out.write_text(json.dumps(report, indent=2) + "\n", encoding="utf-8")
        print_table(report)
        print(f"\nJSON: {out}")
        return 0
    except (RuntimeError, RunFailed, harness.TestFailure) as error:
        log(f"measure: {error}")
        return 1
    except KeyboardInterrupt:
        log("measure: interrupted")
        return 130
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        if watcher is not None:
            watcher.close()
        processes.close()
        for namespace in namespaces:
            namespace.close()
        if args.keep:
            log(f"measure: kept {workdir}")
        else:
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
