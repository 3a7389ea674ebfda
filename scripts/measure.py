#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Whole-program figures of Flowbright beside a floor and three peers, as one table of ratios.

The program (installed into a temporary prefix, or the build's own binary with --no-install)
runs on a virtual desktop of this script's own (Xvfb from :170 up, openbox, trayer, a session
bus), in a throwaway HOME / XDG_CONFIG_HOME / WINEPREFIX whose registry store holds a P2P client
(eMule under Wine), so that the program starts accelerating: statistics every second, a sample
every 500 ms and the graph redrawn every 100 ms while the window is shown.

Beside it, on the same desktop and measured the same way:
  floor        bench/empty_window.cpp --ticking: a Qt window of the same size that only scrolls a
               picture of the graph's size every 100 ms and wakes every 500 ms;
  minimal Qt   bench/minimal_qt_monitor.cpp: the same visible work in a minimal Qt Widgets
               program (the graph scrolled every 100 ms, four labels changed twice a second, a
               tray icon);
  GKrellM      the system monitor, with one network chart only (our own configuration, written
               into the throwaway HOME; see Sandbox.write_gkrellm_config); it has no hidden state;
  raw XCB      bench/minimal_xcb_monitor.cpp: the same visible work with libxcb alone (the graph
               scrolled on the server, only the new strip sent; core-font texts; no tray).

One run of a program:
  1. launch; the start-up time ends when the program's main window becomes viewable (its first
     Expose event); the CPU the program used until then is read by the X event thread at that
     event;
  2. shown: after a warm-up, the CPU time of the program and of the X server, the program's
     wake-ups and the window's updates over a fixed window;
  3. Escape to the window, which must then be unmapped (hidden to the tray); after a warm-up,
     the same over the same fixed window (not for GKrellM);
  4. VmHWM and RssAnon, then SIGTERM.

CPU is the run time of every live thread from /proc/<pid>/task/<tid>/schedstat (nanoseconds),
in seconds per hour; wake-ups are the voluntary context switches of every live thread per
second. Rounds are interleaved (run 1 of every program, then run 2, ...), so that a change in the
machine's load spreads over all of them alike, and every figure is the median of the rounds.

As root, Flowbright is also started (start-up only) in two network namespaces of the script's
own, one with a veth pair and one with 1,000 links, to see what the number of interfaces costs
before the window shows.

Only the Python standard library is used: the X event watcher speaks the X11 protocol itself.
Every process the script starts runs in a session of its own and carries a token in its
environment; cleanup ends those sessions and then any process still carrying the token (a
service the session bus started for us), by process id, and deletes the namespaces it made.

No measured program runs as root. Run by root (as `make measure` is in CI), the script starts
each of them, and the session bus, as an ordinary user (the sudo user, else `nobody`) who owns
the throwaway home, through setpriv: no supplementary groups, no capabilities, CAP_NET_RAW out
of the bounding set and no-new-privileges (as scripts/run.sh does), also inside the network
namespaces. The X server has no authorization file, so the user reaches the display; the
programs run from copies in the script's temporary folder, owned by root and readable by all.
Every run checks in /proc that no process of the program's session is root's or can reach
CAP_NET_RAW, and stops the whole measurement when one is. Run by anyone else, the programs run
as that user.
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

MIB = 1024 * 1024
HOUR = 3600.0

# Flowbright's goals, against the other programs of the same run: (label, figure, peer or None,
# how the value is compared, limit). "ratio": Flowbright / peer <= limit; "above": Flowbright -
# peer <= limit; "at most": Flowbright <= limit. The last one is reported, not required.
GOALS = [
    ("CPU shown / floor", "shown_cpu_s_per_h", "floor", "ratio", 1.0),
    ("CPU shown / GKrellM", "shown_cpu_s_per_h", "gkrellm", "ratio", 0.5),
    ("CPU hidden / floor", "hidden_cpu_s_per_h", "floor", "ratio", 1.1),
    ("wake-ups/s hidden", "hidden_wakeups_per_s", None, "at most", 2.0),
    ("VmHWM - min Qt [MB]", "peak_mb", "minimal_qt", "above", 1.5),
    ("RssAnon [MB]", "rss_anon_mb", None, "at most", 3.5),
    ("CPU shown / raw XCB (beyond)", "shown_cpu_s_per_h", "minimal_xcb", "ratio", 2.5),
]
# 1,000 links may add this much CPU before the window shows, in ms.
MANY_LINKS_CPU_MS = 10.0

# The measuring programs of bench/ (targets built on request, see bench/bench.cmake).
BENCH_TARGETS = {
    "fb_empty_window": "empty_window.cpp",
    "fb_minimal_qt_monitor": "minimal_qt_monitor.cpp",
    "fb_minimal_xcb_monitor": "minimal_xcb_monitor.cpp",
}


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
        # The process whose CPU time is read when a window is first exposed (set per launch).
        self.cpu_pid = None
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
            "pid": None, "width": None, "height": None, "damage": [], "damage_stamps": set(),
            "cpu_at_expose_s": None}

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
                    self._exposed(record, now)
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

    def _exposed(self, record, now):
        record["first_expose"] = now
        # Read here, on the event's arrival: the CPU the program used until its window became
        # viewable.
        if self.cpu_pid is not None:
            with contextlib.suppress(OSError):
                record["cpu_at_expose_s"] = threads_cpu_s(self.cpu_pid)

    def _watch(self, window):
        # An error (the window is gone already) arrives as an error packet and is ignored.
        self._request(struct.pack("<BxHII", 2, 4, window, self.CW_EVENT_MASK)
                      + struct.pack("<I", self.STRUCTURE_NOTIFY_MASK | self.EXPOSURE_MASK))
        if self.damage_opcode is not None:
            # Level 0: an event for every rectangle drawn.
            self._request(struct.pack("<BBHIIB3x", self.damage_opcode, 1, 4, self._new_id(),
                                      window, 0))
        record = self.windows[window]

        # A program that maps its window right after creating it (and a quick window manager)
        # can have it viewable before the selection above is in force: its map and first Expose
        # then went by unseen. GetWindowAttributes, answered after the selection, tells; the
        # window counts as mapped and exposed from the reply's arrival.
        def on_attributes(reply):
            if reply is None or self.windows.get(window) is not record or reply[26] == 0:
                return
            if not record["maps"]:
                record["maps"].append(time.monotonic())
                record["map_seen_late"] = True
                self._ask_identity(window)
            if reply[26] == 2 and record["first_expose"] is None:
                self._exposed(record, time.monotonic())

        self._request(struct.pack("<BxHI", 3, 2, window), on_attributes)

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


def threads_cpu_s(pid):
    """Run time of every live thread of a process, in seconds, from
    /proc/<pid>/task/<tid>/schedstat (nanoseconds)."""
    total = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        with contextlib.suppress(OSError, ValueError, IndexError):
            total += int(Path(f"/proc/{pid}/task/{tid}/schedstat").read_text().split()[0])
    return total / 1e9


def cpu_sample(pid):
    """Run time (ns) and context switches of each live thread of a process."""
    threads, names, voluntary, involuntary = {}, {}, {}, {}
    with contextlib.suppress(OSError):
        for tid in os.listdir(f"/proc/{pid}/task"):
            with contextlib.suppress(OSError, ValueError, IndexError):
                threads[tid] = int(Path(f"/proc/{pid}/task/{tid}/schedstat").read_text().split()[0])
                names[tid] = Path(f"/proc/{pid}/task/{tid}/comm").read_text().strip()
                for line in Path(f"/proc/{pid}/task/{tid}/status").read_text().splitlines():
                    key, _, value = line.partition(":")
                    if key == "voluntary_ctxt_switches":
                        voluntary[tid] = int(value)
                    elif key == "nonvoluntary_ctxt_switches":
                        involuntary[tid] = int(value)
    return {"time": time.monotonic(), "pid": pid, "threads": threads, "names": names,
            "voluntary": voluntary, "involuntary": involuntary}


def switches_per_s(start, end, kind):
    """Context switches of all live threads per second; "voluntary" ones are the wake-ups: the
    thread slept and was woken again."""
    elapsed = end["time"] - start["time"]
    return sum(n - start[kind].get(tid, 0) for tid, n in end[kind].items()) / elapsed


def cpu_by_thread(start, end):
    """CPU seconds per hour of each thread between two samples, by thread name (the main
    thread is the one whose id is the process id)."""
    elapsed = end["time"] - start["time"]
    out = {}
    for tid, ns in end["threads"].items():
        name = end["names"].get(tid, "?")
        if int(tid) == end["pid"]:
            name = f"{name} (main)"
        rate = (ns - start["threads"].get(tid, 0)) / 1e9 / elapsed * HOUR
        out[name] = out.get(name, 0.0) + rate
    return out


def cpu_rate(start, end):
    """CPU seconds per hour between two samples, and the threads that ended in between (their
    time after the first sample is not counted)."""
    elapsed = end["time"] - start["time"]
    ns = sum(n - start["threads"].get(tid, 0) for tid, n in end["threads"].items())
    return ns / 1e9 / elapsed * HOUR, sorted(set(start["threads"]) - set(end["threads"]))


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


def machine():
    """The CPU model, the number of cores and the kernel."""
    model = "?"
    with contextlib.suppress(OSError):
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.partition(":")[2].strip()
                break
    return {"cpu": model, "cores": os.cpu_count(), "kernel": os.uname().release}


def default_interface():
    """The interface of the IPv4 default route (the one Flowbright samples on this machine),
    else the first interface that is not the loopback."""
    with contextlib.suppress(OSError, ValueError, IndexError):
        for line in Path("/proc/net/route").read_text().splitlines()[1:]:
            fields = line.split()
            if fields[1] == "00000000" and int(fields[3], 16) & 1:
                return fields[0]
    names = sorted(n for n in os.listdir("/sys/class/net") if n != "lo")
    return names[0] if names else "lo"


# ---- Sandbox, desktop, namespaces -------------------------------------------------------------

class Sandbox:
    """A throwaway home with a Wine prefix holding eMule, the store naming it as the client."""

    STORE = {
        "Software\\eMule": {"Install Path": "C:\\Program Files\\eMule"},
        "SOFTWARE\\Flowbright": {"APP_NAME": "Emule"},
    }

    def __init__(self, root, token):
        self.token = token
        self.user = harness.program_user()
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
        self.hand_over()

    def hand_over(self):
        """Gives the sandbox, with whatever the script wrote into it, to the user who runs the
        programs."""
        harness.give_tree(self.root, self.user)

    def reset_store(self):
        """Every run starts from the same store (the program writes its options on hiding)."""
        self.store_path.parent.mkdir(parents=True, exist_ok=True)
        self.store_path.write_text(harness.registry_text(self.STORE), encoding="utf-8")
        self.hand_over()

    def write_gkrellm_config(self, interface):
        """GKrellM's configuration in the throwaway home (~/.gkrellm2/user-config, in the format
        GKrellM itself writes): one network chart, for `interface`, and every other monitor off
        as far as the configuration allows: no host or system name, no clock or calendar, no
        CPU, process, disk, memory, swap, mail, battery or uptime monitor, no connect timer, no
        other interface and none added later. The krells keep GKrellM's default of 10 updates a
        second; the chart itself moves once a second."""
        lines = ["enable_hostname 0", "enable_sysname 0", "save_position 0", "update_HZ 10",
                 "clock_cal clock_options 0", "clock_cal cal_options 0",
                 "cpu enable 0", "cpu enabled cpu 0", "proc enable 0 0",
                 "disk assign_method 2", "disk device Disk 0 0 -1 0 1 -1 0 Disk",
                 "meminfo mem_meter 0 0 0", "meminfo swap_meter 0 0", "meminfo swap_chart 0 1",
                 "mail enable 0 0 0 0", "battery enable 0", "uptime enable 0",
                 "net net_enabled_as_default 0", "net timer_enabled 0",
                 f"net timer_iface {interface}", f"net enables {interface} 1 1 0"]
        lines += [f"cpu enabled cpu{i} 0" for i in range(os.cpu_count() or 1)]
        with contextlib.suppress(OSError):
            lines += [f"net enables {name} 0 0 0" for name in sorted(os.listdir("/sys/class/net"))
                      if name != interface]
        if interface != "ppp0":  # shown by default, to time dial-up connections
            lines += ["net enables ppp0 0 0 0"]
        folder = self.home / ".gkrellm2"
        folder.mkdir(exist_ok=True)
        (folder / "user-config").write_text("\n".join(lines) + "\n", encoding="utf-8")

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
    """One program measured: `hides` if Escape hides its window (a hidden phase follows the
    shown one); `min_size` is the least width and height of its main window."""

    def __init__(self, key, label, program, argv_extra=(), netns=None, hides=True, min_size=100):
        self.key = key
        self.label = label
        self.program = program
        self.argv_extra = list(argv_extra)
        self.netns = netns
        self.hides = hides
        self.min_size = min_size
        self.runs = []
        self.failures = []

    def argv(self, user, prefix=()):
        """The command line, as `user` (None: the caller) and, if given, inside the network
        namespace; `prefix` runs the program under a tool (valgrind), as the same user."""
        argv = harness.as_user(list(prefix) + [str(self.program)] + self.argv_extra, user)
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


def session_pids(session):
    return [int(entry) for entry in os.listdir("/proc")
            if entry.isdigit() and session_of(int(entry)) == session]


def check_unprivileged(config, proc, window_pid, user):
    """The user ids of the processes of a run (its session and its window's owner); stops the
    measurement (harness.TestFailure) when one of them is root's or, started by root, can reach
    CAP_NET_RAW."""
    uids = set()
    for pid in sorted(set(session_pids(proc.pid)) | {window_pid}):
        with contextlib.suppress(FileNotFoundError, ProcessLookupError):
            what = config.label.split(':')[0]
            uids.add(harness.check_unprivileged(pid, user, what=what)["uid"])
    return sorted(uids)


def phase_figures(phase, pid, desktop, watcher, window, seconds, warmup):
    """After `warmup` seconds, the CPU time of the program and of the X server, the program's
    wake-ups and the window's updates over `seconds`; the keys start with `phase`."""
    time.sleep(warmup)
    start, x_start = cpu_sample(pid), cpu_sample(desktop.xvfb.pid)
    updates_before = len(watcher.snapshot(window)["damage"])
    time.sleep(seconds)
    end, x_end = cpu_sample(pid), cpu_sample(desktop.xvfb.pid)
    updates_after = len(watcher.snapshot(window)["damage"])
    cpu, ended = cpu_rate(start, end)
    elapsed = end["time"] - start["time"]
    return {
        f"{phase}_cpu_s_per_h": cpu,
        f"{phase}_threads_ended": ended,
        f"{phase}_cpu_by_thread": cpu_by_thread(start, end),
        f"{phase}_wakeups_per_s": switches_per_s(start, end, "voluntary"),
        f"{phase}_preemptions_per_s": switches_per_s(start, end, "involuntary"),
        f"{phase}_updates_per_s": (updates_after - updates_before) / elapsed,
        f"{phase}_xserver_cpu_s_per_h": cpu_rate(x_start, x_end)[0],
    }


def launch(config, desktop, watcher, processes, sandbox):
    """Starts the program and waits for its main window; returns the process, the window and
    the start-up figures."""
    sandbox.reset_store()
    if Path(config.program).name == "flowbright":
        # Its INI file is written beside it (in the temporary prefix): every run starts without.
        with contextlib.suppress(FileNotFoundError):
            Path(config.program).with_suffix(".ini").unlink()
    log_path = sandbox.artifacts / f"{config.key}.log"
    launched = time.monotonic()
    proc = processes.start(config.argv(sandbox.user), desktop.env, log_path=log_path,
                           cwd=str(sandbox.home))
    with watcher.cond:
        watcher.cpu_pid = proc.pid  # `ip netns exec` keeps the process id
    window = watcher.wait(lambda: main_window_of(watcher, proc.pid, config.min_size), 30)
    if window is None:
        seen = diagnosis(watcher, proc, log_path)
        processes.end(proc, grace=5.0)
        raise RunFailed(f"{config.label}: no window within 30 s (exit status {proc.poll()})"
                        + seen)
    record = watcher.snapshot(window)
    cpu = record["cpu_at_expose_s"] if record["pid"] == proc.pid else None
    figures = {
        "startup_ms": (record["first_expose"] - launched) * 1000.0,
        "startup_cpu_ms": None if cpu is None else cpu * 1000.0,
        "window_size": [record["width"], record["height"]],
        "map_seen_late": bool(record.get("map_seen_late")),
    }
    try:
        figures["uids"] = check_unprivileged(config, proc, record["pid"], sandbox.user)
    except harness.TestFailure:
        processes.end(proc, grace=1.0)
        raise
    painted = watcher.wait(lambda: watcher.windows[window]["damage"], 5)
    figures["first_paint_ms"] = (painted[0] - launched) * 1000.0 if painted else None
    return proc, window, record["pid"], figures


def end_figures(pid):
    memory = memory_status(pid)
    return {"peak_mb": memory.get("VmHWM"), "rss_mb": memory.get("VmRSS"),
            "rss_anon_mb": memory.get("RssAnon"), "rss_file_mb": memory.get("RssFile"),
            "rss_shmem_mb": memory.get("RssShmem"), "threads": memory.get("Threads"),
            "rss_by_mapping_mb": rss_by_mapping(pid)}


def one_run(config, desktop, watcher, processes, sandbox, seconds, warmup, short=False):
    """Runs the program once and returns its figures; `short` only waits for the window."""
    proc, window, pid, figures = launch(config, desktop, watcher, processes, sandbox)
    try:
        if short:
            return figures
        figures.update(phase_figures("shown", pid, desktop, watcher, window, seconds, warmup))
        if config.hides:
            unmaps_before = len(watcher.snapshot(window)["unmaps"])
            desktop.hide_with_escape(window)
            if not watcher.wait(lambda: len(watcher.windows[window]["unmaps"]) > unmaps_before,
                                10):
                raise RunFailed(f"{config.label}: the window was not hidden by Escape")
            figures.update(phase_figures("hidden", pid, desktop, watcher, window, seconds,
                                         warmup))
        figures.update(end_figures(pid))
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
    # The dumps go where the program's user may write: the sandbox, when the script is root's.
    dump_dir = out_dir if sandbox.user is None else sandbox.root / "callgrind"
    dump_dir.mkdir(exist_ok=True)
    sandbox.reset_store()
    prefix = ["valgrind", "--tool=callgrind", "--separate-threads=no",
              f"--callgrind-out-file={dump_dir}/callgrind.out.%p"]
    proc = processes.start(config.argv(sandbox.user, prefix), desktop.env,
                           log_path=out_dir / "callgrind.log", cwd=str(sandbox.home))
    control_log = out_dir / "callgrind_control.log"

    def control(option, pid):
        # vgdb reaches valgrind only as the user who runs it.
        result = run_quiet(harness.as_user(["callgrind_control", option, str(pid)], sandbox.user),
                           env=desktop.env, timeout=60)
        with open(control_log, "a", encoding="utf-8") as f:
            f.write(f"$ callgrind_control {option} {pid}\n{result.stdout}{result.stderr}")

    try:
        window, pid = wait_window(watcher, proc, 240, config.label)
        # Start-up: from the launch to the shown window.
        control("--dump=startup", pid)
        control("--instr=off", pid)
        reports = []
        dumps = sorted(dump_dir.glob(f"callgrind.out.{pid}.*"), key=lambda p: p.stat().st_mtime)
        if dumps:
            reports.append(annotate(dumps[-1], out_dir / f"callgrind-{config.key}-startup.txt"))
        # Everything runs far slower under valgrind.
        for phase in each_window(desktop, watcher, window, config.label, warmup * 3):
            control("--instr=on", pid)
            control("--zero", pid)
            time.sleep(seconds)
            control(f"--dump={phase}", pid)
            control("--instr=off", pid)
            dumps = sorted(dump_dir.glob(f"callgrind.out.{pid}.*"),
                           key=lambda p: p.stat().st_mtime)
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
    argv = harness.as_user([str(config.program)] + config.argv_extra, sandbox.user)
    argv = ["strace", "-f", "-c", "-o", str(startup)] + argv
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
    proc = processes.start(config.argv(sandbox.user), desktop.env,
                           log_path=out_dir / "program.log",
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
    proc = processes.start(config.argv(sandbox.user), desktop.env,
                           log_path=out_dir / "program-perf.log",
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

# The table's rows: (key, label, digits). The first eight are the comparison; the rest tell
# whether the programs do the same visible work and how fast they start.
ROWS = [
    ("shown_cpu_s_per_h", "CPU shown [s/h]", 2),
    ("hidden_cpu_s_per_h", "CPU hidden [s/h]", 2),
    ("shown_wakeups_per_s", "wake-ups/s shown", 1),
    ("hidden_wakeups_per_s", "wake-ups/s hidden", 1),
    ("peak_mb", "VmHWM [MB]", 1),
    ("rss_anon_mb", "RssAnon [MB]", 1),
    ("shown_xserver_cpu_s_per_h", "X server CPU shown [s/h]", 2),
    ("hidden_xserver_cpu_s_per_h", "X server CPU hidden [s/h]", 2),
    ("shown_updates_per_s", "window updates/s shown", 1),
    ("startup_ms", "start-up to window [ms]", 0),
    ("startup_cpu_ms", "CPU before window [ms]", 1),
]
MORE = ["first_paint_ms", "shown_preemptions_per_s", "hidden_preemptions_per_s",
        "hidden_updates_per_s", "rss_mb", "rss_file_mb", "threads"]
PEERS = [("floor", "floor"), ("minimal_qt", "min Qt"), ("gkrellm", "GKrellM"),
         ("minimal_xcb", "raw XCB")]


def medians(runs):
    out = {}
    for key in [row[0] for row in ROWS] + MORE:
        values = [r[key] for r in runs if r.get(key) is not None]
        out[key] = statistics.median(values) if values else None
    for phase in ("shown", "hidden"):
        names = sorted({name for r in runs for name in r.get(f"{phase}_cpu_by_thread", {})})
        if names:
            out[f"{phase}_cpu_by_thread"] = {
                name: statistics.median(r.get(f"{phase}_cpu_by_thread", {}).get(name, 0.0)
                                        for r in runs) for name in names}
    return out


def ratio(value, base):
    if value is None or not base:
        return None
    return value / base


def links_figures(configs, links):
    """Start-up with `links` links against the namespace with one veth pair: medians and the
    differences (many minus one)."""
    base = configs.get("flowbright_1_link", {}).get("median")
    many = configs.get("flowbright_links", {}).get("median")
    if not base or not many:
        return None
    out = {"links": links}
    for key in ("startup_cpu_ms", "startup_ms"):
        one, more = base.get(key), many.get(key)
        out[key] = {"one_link": one, "many_links": more,
                    "difference": None if one is None or more is None else more - one}
    return out


def build_report(configs, args, context):
    report = dict(context)
    report.update({
        "settings": {"runs": args.runs, "seconds": args.seconds, "warmup": args.warmup,
                     "startup_runs": args.startup_runs, "links": args.links,
                     "default_route": not args.no_default_route},
        "method": {
            "startup": "launch (just before fork/exec) to the first Expose event of the main "
                       "window, stamped by an X event thread blocked on the X socket",
            "startup_cpu": "run time of the program's live threads (schedstat, ns) read by the "
                           "X event thread when the first Expose event arrives",
            "cpu": "run time of every live thread (schedstat, ns) over the measured window, "
                   "s per hour; the X server's likewise",
            "wakeups": "voluntary context switches of every live thread per second "
                       "(involuntary ones are in *_preemptions_per_s)",
            "memory": "VmHWM and RssAnon of /proc/<pid>/status at the end of the run "
                      "(MB = 2^20 bytes)",
        },
        "goals": [{"goal": g[0], "figure": g[1], "peer": g[2], "comparison": g[3],
                   "limit": g[4]} for g in GOALS],
        "configs": {c.key: {"label": c.label, "runs": c.runs, "failed_runs": c.failures,
                            "median": medians(c.runs)} for c in configs},
    })
    main = report["configs"].get("flowbright", {}).get("median") or {}
    report["ratios"] = {
        key: {peer: ratio(main.get(key), report["configs"].get(peer, {}).get("median", {})
                          .get(key)) for peer, _ in PEERS} for key, *_ in ROWS}
    report["many_links"] = links_figures(report["configs"], args.links)
    report["run_as"]["uids_seen"] = sorted({uid for c in configs for r in c.runs
                                            for uid in r.get("uids", [])})
    report["checks"] = [check_goal(goal, main, report["configs"]) for goal in GOALS]
    links = report["many_links"]
    if links and links["startup_cpu_ms"]["difference"] is not None:
        added = links["startup_cpu_ms"]["difference"]
        report["checks"].append({"goal": f"CPU {args.links} links add [ms]", "value": added,
                                 "limit": MANY_LINKS_CPU_MS, "met": added <= MANY_LINKS_CPU_MS})
    return report


def check_goal(goal, main, configs):
    label, key, peer, comparison, limit = goal
    value = main.get(key)
    if peer is not None:
        base = configs.get(peer, {}).get("median", {}).get(key)
        if comparison == "ratio":
            value = ratio(value, base)
        else:
            value = None if value is None or base is None else value - base
    return {"goal": label, "value": value, "limit": limit,
            "met": value is not None and value <= limit}


def cell(value, digits, width):
    if value is None:
        return f"{'-':>{width}}"
    if isinstance(value, float) and abs(value) >= 1000:
        digits = 0
    return f"{value:>{width}.{digits}f}"


def print_table(report):
    configs = report["configs"]
    columns = [("flowbright", "Flowbr.")] + PEERS
    load = report["loadavg"]
    print()
    print(f"{report['date']}  {report['machine']['cpu']}, {report['machine']['cores']} cores, "
          f"kernel {report['machine']['kernel']}")
    print(f"load average (1, 5, 15 min): start {load['start'][0]:.2f} {load['start'][1]:.2f} "
          f"{load['start'][2]:.2f}, end {load['end'][0]:.2f} {load['end'][1]:.2f} "
          f"{load['end'][2]:.2f}")
    settings = report["settings"]
    print(f"medians of {settings['runs']} interleaved rounds, {settings['seconds']:g} s measured "
          f"per phase after {settings['warmup']:g} s of warm-up")
    print()
    print(f"{'':<26}" + "".join(f"{name:>9}" for _, name in columns) + "  "
          + "".join(f"{'Fb/' + name:>11}" for _, name in PEERS))
    for key, label, digits in ROWS:
        values = "".join(cell(configs.get(k, {}).get("median", {}).get(key), digits, 9)
                         for k, _ in columns)
        ratios = "".join(cell(report["ratios"][key][k], 2, 11) for k, _ in PEERS)
        print(f"{label:<26}{values}  {ratios}")
    print()
    for key, _ in columns:
        if key in configs:
            print(f"  {key}: {configs[key]['label']}")
    print("  wake-ups: voluntary context switches of all threads; CPU: schedstat of all threads")
    run_as = report["run_as"]
    print(f"  every measured process ran as {run_as['user']} (uids seen: "
          f"{', '.join(map(str, run_as['uids_seen']))})"
          + (", without CAP_NET_RAW (bounding set, no-new-privs)" if run_as["net_raw_dropped"]
             else ""))
    links = report.get("many_links")
    if links:
        cpu, startup = links["startup_cpu_ms"], links["startup_ms"]
        print(f"\n{links['links']} links, Flowbright start-up only (medians of "
              f"{settings['startup_runs']}): CPU before the window shows "
              f"{cell(cpu['many_links'], 1, 0)} ms against {cell(cpu['one_link'], 1, 0)} ms "
              f"with 1 link: {cell(cpu['difference'], 1, 0)} ms more; start-up "
              f"{cell(startup['many_links'], 0, 0)} against {cell(startup['one_link'], 0, 0)} ms")
    print("\nFlowbright's goals:")
    for c in report["checks"]:
        print(f"  {c['goal']:<30} {cell(c['value'], 2, 7)} <= {c['limit']:<4g} "
              f"{'met' if c['met'] else 'MISSED'}")
    print(f"wall time {report['wall_s']:.0f} s")


# ---- Main ---------------------------------------------------------------------------------------

def graph_client_size(width, height):
    """The size of the graph's picture in a main window of width x height pixels: the graph
    frame is 229 x 44 of the dialog's 269 x 249 units, less its 2-pixel edge on each side."""
    return max(8, round(width * 229 / 269) - 4), max(8, round(height * 44 / 249) - 4)


def prepare_bench(build):
    """The measuring programs of bench/, built in `build` when missing or older than their
    source."""
    paths = {target: build / target for target in BENCH_TARGETS}
    stale = [target for target, source in BENCH_TARGETS.items()
             if not paths[target].is_file()
             or paths[target].stat().st_mtime < (REPO / "bench" / source).stat().st_mtime]
    if stale:
        log(f"measure: building {' '.join(stale)}")
        result = run_quiet(["cmake", "--build", str(build), "--target"] + stale, timeout=900)
        if result.returncode != 0:
            raise RuntimeError(f"building {' '.join(stale)} failed: "
                               f"{(result.stdout + result.stderr).strip()[-1500:]}")
    return paths


def readable_copies(paths, folder):
    """Root-owned copies of the measuring programs in `folder`, which every user may read and
    run (the build tree may be closed to the user who runs them)."""
    folder.mkdir(mode=0o755)
    copies = {}
    for target, path in paths.items():
        copies[target] = folder / path.name
        shutil.copy2(path, copies[target])
        copies[target].chmod(0o755)
    return copies


def prepare_programs(args, workdir, user):
    """The program (installed into a temporary prefix unless --no-install) and the measuring
    programs of bench/; run by root, all in `workdir`, owned by root and readable by `user`, who
    owns the program's folder (its INI file is written beside it)."""
    if user is not None:
        workdir.chmod(0o755)
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
    bench = prepare_bench(build)
    if user is not None:
        harness.give_tree(program.parent, user, keep=[program])
        bench = readable_copies(bench, workdir / "bench")
    return program, bench


def peer_configs(args, bench, size, sandbox):
    """The floor and the peers, for a main window of `size` (width, height)."""
    width, height = size
    graph = "x".join(map(str, graph_client_size(width, height)))
    window = f"{width}x{height}"
    configs = [
        Config("floor", f"floor: fb_empty_window {window} --ticking {graph} (a picture scrolled "
               "every 100 ms while shown, a timer every 500 ms)", bench["fb_empty_window"],
               ["--size", window, "--ticking", graph]),
        Config("minimal_qt", f"minimal Qt: fb_minimal_qt_monitor {window}, graph {graph}, 4 "
               "labels at 2 Hz, tray icon", bench["fb_minimal_qt_monitor"],
               ["--size", window, "--graph", graph]),
    ]
    gkrellm = shutil.which("gkrellm")
    if gkrellm is None:
        log("measure: gkrellm is not installed (make deps): no GKrellM column")
    else:
        interface = default_interface()
        sandbox.write_gkrellm_config(interface)
        configs.append(Config("gkrellm", f"GKrellM: one network chart ({interface}), nothing "
                              "else; no hidden state", gkrellm, hides=False, min_size=40))
    configs.append(Config("minimal_xcb", f"raw XCB: fb_minimal_xcb_monitor {window}, graph "
                          f"{graph}, 4 text lines at 2 Hz, no tray",
                          bench["fb_minimal_xcb_monitor"], ["--size", window, "--graph", graph]))
    return [c for c in configs if c.key not in args.skip]


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
    parser.add_argument("--runs", type=int, default=3, help="interleaved rounds (3)")
    parser.add_argument("--seconds", type=float, default=6.0,
                        help="measured seconds of each phase, shown and hidden (6)")
    parser.add_argument("--warmup", type=float, default=2.0,
                        help="seconds before each phase is measured (2)")
    parser.add_argument("--startup-runs", type=int, default=5,
                        help="start-up runs in each network namespace (5)")
    parser.add_argument("--links", type=int, default=1000,
                        help="links in the many-links namespace, an even number (1000)")
    parser.add_argument("--no-netns", action="store_true",
                        help="skip the network-namespace runs (they need root)")
    parser.add_argument("--no-default-route", action="store_true",
                        help="no IPv4 default route in the namespaces (an offline machine)")
    parser.add_argument("--skip", default="", type=lambda text: set(filter(None, text.split(","))),
                        help="comma-separated peers to leave out: floor, minimal_qt, gkrellm, "
                             "minimal_xcb")
    parser.add_argument("--no-install", action="store_true",
                        help="run the build's binary instead of an installed copy")
    parser.add_argument("--out", default=None, help="JSON output (default: <build>/measure.json)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary directory")
    parser.add_argument("--profile", metavar="DIR", default=None,
                        help="instead of the figures: profile Flowbright (strace, perf and "
                             "callgrind over start-up, shown and hidden) and write the reports "
                             "to DIR")
    parser.add_argument("--no-callgrind", action="store_true",
                        help="with --profile: strace and perf only")
    parser.add_argument("--profile-links", action="store_true",
                        help="with --profile: run in the many-links namespace (root)")
    args = parser.parse_args(argv)
    if args.runs < 1 or args.startup_runs < 1 or args.seconds <= 0 or args.warmup < 0:
        parser.error("--runs and --startup-runs must be at least 1, --seconds above 0, "
                     "--warmup not negative")
    if args.links < 2 or args.links % 2:
        parser.error("--links must be an even number of at least 2 (veth links come in pairs)")
    unknown = args.skip - {key for key, _ in PEERS}
    if unknown:
        parser.error(f"--skip: unknown {', '.join(sorted(unknown))}")
    return args


def take_run(config, i, runs, measure):
    """One run of `config`, taken again (at most twice) when it goes wrong."""
    for attempt in range(3):
        try:
            figures = measure()
            break
        except RunFailed as error:
            config.failures.append(str(error))
            log(f"measure: {error}")
            if attempt == 2:
                raise
    config.runs.append(figures)
    text = ", ".join(f"{label} {cell(figures.get(key), digits, 0)}" for key, label, digits in ROWS
                     if figures.get(key) is not None)
    log(f"measure: round {i + 1}/{runs} {config.key}: {text}")


def rounds(args, configs, desktop, watcher, processes, sandbox):
    for i in range(args.runs):
        for config in configs:
            take_run(config, i, args.runs,
                     lambda c=config: one_run(c, desktop, watcher, processes, sandbox,
                                              args.seconds, args.warmup))


def namespace_configs(args, program, namespaces):
    """Flowbright in a namespace with one veth pair and in one with `--links` links (root)."""
    if args.no_netns:
        return []
    if not NetNamespace.available():
        log("measure: not root (or no ip): the network-namespace runs are skipped")
        return []
    routed = not args.no_default_route
    namespaces.append(NetNamespace(f"fbmeasure-{os.getpid()}-base", 1, routed))
    log(f"measure: creating {args.links} links in a namespace")
    namespaces.append(NetNamespace(f"fbmeasure-{os.getpid()}-many", args.links // 2, routed))
    return [Config("flowbright_1_link", f"Flowbright, namespace with {namespaces[0].links - 1} "
                   "links and lo (start-up only)", program, netns=namespaces[0]),
            Config("flowbright_links", f"Flowbright, namespace with {namespaces[1].links - 1} "
                   "links and lo (start-up only)", program, netns=namespaces[1])]


def startup_rounds(args, configs, desktop, watcher, processes, sandbox):
    for i in range(args.startup_runs):
        for config in configs:
            take_run(config, i, args.startup_runs,
                     lambda c=config: one_run(c, desktop, watcher, processes, sandbox, 0, 0,
                                              short=True))


def measure(args, context, workdir, processes, namespaces, started):
    sandbox = Sandbox(workdir / "sandbox", processes.token)
    program, bench = prepare_programs(args, workdir, sandbox.user)
    user = sandbox.user
    context["run_as"] = {"user": user.pw_name if user else os.environ.get("USER"),
                         "uid": user.pw_uid if user else os.getuid(),
                         "net_raw_dropped": user is not None}
    desktop = Desktop(sandbox, processes)
    watcher = XWatcher(desktop.display_number)
    watcher.start()
    try:
        log(f"measure: display {desktop.display}, program {program}, "
            + (f"every program as {user.pw_name} (uid {user.pw_uid}) without CAP_NET_RAW"
               if user else f"every program as uid {os.getuid()}"))
        main = Config("flowbright", "Flowbright, accelerating (machine's own network)", program)
        if args.profile:
            configs = [main] + namespace_configs(args, program, namespaces) \
                if args.profile_links else [main]
            return run_profiles(args, configs, desktop, watcher, processes, sandbox)
        # An untimed start of each program first: libraries and fonts in the page cache, and
        # the size of Flowbright's window for the others.
        size = one_run(main, desktop, watcher, processes, sandbox, 0, 0, short=True)["window_size"]
        configs = [main] + peer_configs(args, bench, size, sandbox)
        for config in configs[1:]:
            one_run(config, desktop, watcher, processes, sandbox, 0, 0, short=True)
        rounds(args, configs, desktop, watcher, processes, sandbox)
        # Start-up only in the namespaces, after the rounds: making them costs the kernel work.
        links = namespace_configs(args, program, namespaces)
        startup_rounds(args, links, desktop, watcher, processes, sandbox)
        context["loadavg"]["end"] = os.getloadavg()
        context["wall_s"] = time.monotonic() - started
        report = build_report(configs + links, args, context)
    finally:
        watcher.close()
    out = Path(args.out) if args.out else Path(args.build) / "measure.json"
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(json.dumps(report, indent=2) + "\n", encoding="utf-8")
    print_table(report)
    print(f"JSON: {out}")
    return 0


def main(argv=None):
    started = time.monotonic()
    context = {"date": time.strftime("%Y-%m-%d %H:%M:%S %z"), "machine": machine(),
               "loadavg": {"start": os.getloadavg()}}
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
    try:
        return measure(args, context, workdir, processes, namespaces, started)
    except (RuntimeError, RunFailed, harness.TestFailure) as error:
        log(f"measure: {error}")
        return 1
    except KeyboardInterrupt:
        log("measure: interrupted")
        return 130
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        processes.close()
        for namespace in namespaces:
            namespace.close()
        if args.keep:
            log(f"measure: kept {workdir}")
        else:
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
