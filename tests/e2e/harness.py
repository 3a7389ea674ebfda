# SPDX-License-Identifier: GPL-3.0-or-later
"""Harness of the end-to-end suite: a throwaway desktop and home for one run of Flowbright.

Every test gets
  - a sandbox: a temporary HOME with its own XDG directories, Wine prefix and runtime
    directory, a copy of the program (so that its INI file is its own), and a directory at
    the front of PATH with recorders named wine, xdg-open and UpdateApp.exe;
  - a desktop: Xvfb on a free display number from :150 up, openbox, trayer (a stand-alone
    notification area) and a session D-Bus, on which the AT-SPI bus starts on demand;
  - when run as root, a network namespace of its own with a veth pair, so that the adapter
    list is known and the program's packet socket never sees the machine's real interfaces.

Flowbright never runs as root. When the suite runs as root (CI does), the program, the session
bus (and so the accessibility services it starts) and the accessibility probe run as an
ordinary user (the sudo user, else `nobody`) who owns the sandbox, through setpriv: without
CAP_NET_RAW in the bounding set and with no-new-privileges, so that not even a file capability
gives it back. A test that wants the watcher's packet socket runs a root-owned copy of the
program carrying `cap_net_raw+ep`, still as that user. The X server, the window manager, the
tray and the tools that drive them stay root's: the X server has no authorization file, so any
local client may connect.

Every process the harness starts runs in a session of its own and carries the sandbox's token
in its environment; cleanup ends the sessions it started and then any process still carrying
the token (services that the bus started for us), by process id, and nothing else.

Only the Python standard library is used here; the accessibility tree is read by
atspi_probe.py (python3-pyatspi) in a process of its own.
"""

import configparser
import contextlib
import fcntl
import json
import os
import pwd
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time
import uuid
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parent.parent
SYSTEM_PYTHON = "/usr/bin/python3"
IMPORT = "/usr/bin/import"
IDENTIFY = "/usr/bin/identify"

UPDATER_ARGS = ["Flowbright", "6", "4.3.0", "flowbright.org", "false"]
ACTIVE_TEXT = "Mode: Active\nPush to stop"
INACTIVE_TEXT = "Mode: Inactive\nPush to accelerate"
TRAY_MENU = [
    "Run at Startup", None, "Concerned About SAFETY?", "All About File Sharing",
    "eMusic: 25 Free MP3 Downloads!", "Download Torrents Anonymously!", "Music, Games, Photos",
    "Help", "About", None, "Exit",
]
INI_KEYS = {
    "main": ["alwaysontop", "nsresolve", "portresolve", "idleseconds"],
    "filters": ["filtertcp", "filterudp", "filtericmp"],
    "mainwindow": ["status", "top", "bottom", "left", "right"],
    "list": ["srcaddr", "destaddr", "srcport", "destport", "proto", "traffic", "bs", "abs"],
    "log": ["uselogfile", "autodelete", "mbdelete", "logtype", "logfile"],
}
INI_DEFAULTS = {
    "alwaysontop": "0", "nsresolve": "0", "portresolve": "0", "idleseconds": "10",
    "filtertcp": "0", "filterudp": "0", "filtericmp": "0",
    "status": "-1", "top": "-1", "bottom": "-1", "left": "-1", "right": "-1",
    "srcaddr": "120", "destaddr": "120", "srcport": "80", "destport": "80", "proto": "50",
    "traffic": "100", "bs": "80", "abs": "80",
    "uselogfile": "0", "autodelete": "0", "mbdelete": "1", "logtype": "0", "logfile": "",
}
OPTION_KEY = "Software\\Flowbright"
# The captions of the main window's combo boxes: the client list's group box, the adapter
# list's label.
COMBO_CAPTIONS = ("Run P2P", "Network Adapter")
VETH_NAMES = ("e2e-lan0", "e2e-lan1")


class TestFailure(AssertionError):
    """A check of the suite did not hold."""


class TestSkipped(Exception):
    """The test cannot run on this machine; the message says why."""


def check(condition, message):
    if not condition:
        raise TestFailure(message)


def wait_until(predicate, timeout, what, interval=0.1):
    """Polls `predicate` until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = predicate()
            if value:
                return value
        except TestFailure as error:
            last_error = error
        if time.monotonic() >= deadline:
            detail = f" (last: {last_error})" if last_error else ""
            raise TestFailure(f"timed out after {timeout:.0f} s waiting for {what}{detail}")
        time.sleep(interval)


def is_root():
    return os.geteuid() == 0


# ---- Running as an ordinary user --------------------------------------------------------------

CAP_NET_RAW = 13


def program_user():
    """The account (a pwd entry) that runs the program and its session when the caller is root:
    the sudo user, else `nobody`; None when the caller is not root."""
    if not is_root():
        return None
    for name in (os.environ.get("SUDO_USER"), "nobody"):
        with contextlib.suppress(KeyError, TypeError):
            entry = pwd.getpwnam(name)
            if entry.pw_uid != 0:
                return entry
    raise TestFailure("no account other than root to run the program as")


def as_user(argv, user, raw_socket=False):
    """`argv` run as `user` (unchanged when None), with no supplementary group and no inherited
    capability. Without `raw_socket`, CAP_NET_RAW also leaves the bounding set and
    no-new-privileges is set, so that no file capability gives anything back; with it, a program
    file carrying cap_net_raw+ep gets that one capability."""
    if user is None:
        return list(argv)
    prefix = ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}", "--clear-groups",
              "--inh-caps=-all"]
    if not raw_socket:
        prefix += ["--bounding-set=-net_raw", "--no-new-privs"]
    return prefix + ["--"] + list(argv)


def give_tree(root, user, keep=()):
    """Makes `user` the owner of `root` and of everything below it, except the paths in `keep`
    (they stay root's). Symbolic links themselves change owner, not their targets."""
    if user is None:
        return
    kept = {Path(path) for path in keep}
    os.chown(root, user.pw_uid, user.pw_gid, follow_symlinks=False)
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = Path(folder) / name
            if path not in kept:
                os.chown(path, user.pw_uid, user.pw_gid, follow_symlinks=False)


def process_credentials(pid):
    """Real and effective user ids, the effective and bounding capability sets and the
    no-new-privileges flag of a process, from /proc/<pid>/status."""
    fields = {}
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        key, _, value = line.partition(":")
        fields[key] = value.split()
    return {"uid": int(fields["Uid"][0]), "euid": int(fields["Uid"][1]),
            "cap_eff": int(fields["CapEff"][0], 16), "cap_bnd": int(fields["CapBnd"][0], 16),
            "no_new_privs": fields.get("NoNewPrivs", ["0"])[0] == "1"}


def check_unprivileged(pid, user, raw_socket=False, what="the program"):
    """Fails unless process `pid` runs as `user` (as anyone but root when None); when the
    harness dropped its privileges, also unless CAP_NET_RAW is out of reach (or, with
    `raw_socket`, the one capability it holds). Returns the credentials."""
    cred = process_credentials(pid)
    check(cred["uid"] != 0 and cred["euid"] != 0,
          f"{what} (process {pid}) runs as root: {cred}")
    if user is None:
        return cred
    check(cred["uid"] == user.pw_uid, f"{what} runs as uid {cred['uid']}, not {user.pw_name}")
    net_raw = 1 << CAP_NET_RAW
    if raw_socket:
        check(cred["cap_eff"] == net_raw, f"{what} holds capabilities {cred['cap_eff']:#x}, "
              "not CAP_NET_RAW alone")
    else:
        check(cred["cap_eff"] == 0 and not cred["cap_bnd"] & net_raw and cred["no_new_privs"],
              f"{what} can reach CAP_NET_RAW: {cred}")
    return cred


# ---- Wine's registry text format ------------------------------------------------------------

def _escape_reg(text):
    out = []
    for ch in text:
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif ch == "\n":
            out.append("\\n")
        elif ord(ch) < 0x20:
            out.append("\\x%02x" % ord(ch))
        else:
            out.append(ch)
    return "".join(out)


def _unescape_reg(text):
    out = []
    i = 0
    simple = {"n": "\n", "r": "\r", "t": "\t", "a": "\a", "b": "\b", "f": "\f", "v": "\v",
              "e": "\x1b", "\\": "\\", '"': '"', "[": "[", "]": "]", "0": None}
    while i < len(text):
        ch = text[i]
        if ch != "\\" or i + 1 >= len(text):
            out.append(ch)
            i += 1
            continue
        nxt = text[i + 1]
        if nxt == "x":
            m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
            if m:
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append("x")
            i += 2
        elif nxt in "01234567":
            m = re.match(r"[0-7]{1,3}", text[i + 1:])
            out.append(chr(int(m.group(0), 8)))
            i += 1 + len(m.group(0))
        elif nxt in simple and simple[nxt] is not None:
            out.append(simple[nxt])
            i += 2
        else:
            out.append(nxt)
            i += 2
    return "".join(out)


def registry_text(keys):
    """Wine text registry with the given {key path: {value name: value}}; a value is a str
    (REG_SZ) or an int (REG_DWORD)."""
    lines = ["WINE REGISTRY Version 2", ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000",
             "", "#arch=win32", ""]
    for key, values in keys.items():
        lines.append(f"[{_escape_reg(key)}] 1700000000")
        lines.append("#time=1da0000000000000")
        for name, value in values.items():
            label = "@" if name == "" else f'"{_escape_reg(name)}"'
            if isinstance(value, int):
                lines.append(f"{label}=dword:{value & 0xFFFFFFFF:08x}")
            else:
                lines.append(f'{label}="{_escape_reg(value)}"')
        lines.append("")
    return "\n".join(lines) + "\n"


def parse_registry(text):
    """{folded key path: {folded value name: (type, value)}} of a Wine text registry.
    Types: "sz" (str), "dword" (int), "hex" (bytes), "other" (raw text)."""
    keys = {}
    current = None
    pending = None
    for raw in text.splitlines():
        if pending is not None:
            pending[1] += raw.strip().rstrip("\\")
            if not raw.rstrip().endswith("\\"):
                _store_hex(current, *pending)
                pending = None
            continue
        line = raw.strip()
        if not line or line.startswith(";") or line.startswith("#"):
            continue
        if line.startswith("["):
            end = line.rfind("]")
            path = _unescape_reg(line[1:end])
            current = keys.setdefault(path.lower(), {})
            continue
        if current is None:
            continue
        m = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        if not m:
            continue
        name = "" if m.group(1) == "@" else _unescape_reg(m.group(2))
        data = m.group(3)
        if data.startswith('"') and data.endswith('"'):
            current[name.lower()] = ("sz", _unescape_reg(data[1:-1]))
        elif data.startswith("dword:"):
            current[name.lower()] = ("dword", int(data[6:14], 16))
        elif re.match(r"^hex(\([0-9a-fA-F]+\))?:", data):
            body = data.split(":", 1)[1]
            if body.rstrip().endswith("\\"):
                pending = [name, body.rstrip().rstrip("\\")]
            else:
                _store_hex(current, name, body)
        else:
            current[name.lower()] = ("other", data)
    return keys


def _store_hex(values, name, body):
    digits = [b for b in body.replace(" ", "").split(",") if b]
    values[name.lower()] = ("hex", bytes(int(b, 16) for b in digits))


def registry_value(keys, key, name):
    """The (type, value) of a value, or None; the key path is matched case-insensitively and
    may be written with or without a root prefix in the file."""
    wanted = key.lower()
    for path, values in keys.items():
        if path == wanted or path.endswith("\\" + wanted):
            if name.lower() in values:
                return values[name.lower()]
    return None


# ---- INI and desktop entries ----------------------------------------------------------------

def parse_ini(path):
    parser = configparser.ConfigParser(interpolation=None, strict=False,
                                       delimiters=("=",), comment_prefixes=(";",))
    parser.optionxform = str.lower
    parser.read_string(Path(path).read_text(encoding="utf-8", errors="replace"))
    return parser


def section_order(path):
    return [m.group(1).lower() for m in
            re.finditer(r"^\s*\[([^\]]*)\]", Path(path).read_text(errors="replace"), re.M)]


def parse_desktop_entry(path):
    """The keys of the [Desktop Entry] group."""
    entry = {}
    group = None
    for line in Path(path).read_text(encoding="utf-8").splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("["):
            group = line
            continue
        if group == "[Desktop Entry]" and "=" in line:
            key, value = line.split("=", 1)
            entry[key.strip()] = value.strip()
    return entry


def split_exec(value):
    """Arguments of a desktop entry's Exec value (the quoting rules of desktop entries)."""
    # The string-level escapes of the file format come first.
    unescaped = value.replace("\\\\", "\x00").replace("\\s", " ").replace("\\n", "\n") \
                     .replace("\\t", "\t").replace("\\r", "\r").replace("\x00", "\\")
    args, current, quoted, has_arg, i = [], [], False, False, 0
    while i < len(unescaped):
        ch = unescaped[i]
        if quoted:
            if ch == "\\" and i + 1 < len(unescaped) and unescaped[i + 1] in '"`$\\':
                current.append(unescaped[i + 1])
                i += 2
                continue
            if ch == '"':
                quoted = False
            else:
                current.append(ch)
        elif ch == '"':
            quoted, has_arg = True, True
        elif ch == " ":
            if current or has_arg:
                args.append("".join(current))
            current, has_arg = [], False
        else:
            current.append(ch)
        i += 1
    if current or has_arg:
        args.append("".join(current))
    return args


# ---- Processes --------------------------------------------------------------------------------

class Processes:
    """The processes of one test: each started in a session of its own, all ended at close.
    Each carries `token` in its environment as `token_name` (the sandbox puts it there)."""

    def __init__(self, token, token_name="FB_E2E_TOKEN"):
        self.token = token
        self.token_name = token_name
        self.started = []

    def start(self, argv, env, log_path=None, stdout=None, cwd=None):
        if log_path is not None:
            out = open(log_path, "ab")
        else:
            out = subprocess.DEVNULL
        try:
            proc = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                    stdout=stdout if stdout is not None else out,
                                    stderr=out, start_new_session=True, close_fds=True)
        finally:
            if log_path is not None:
                out.close()
        self.started.append(proc)
        return proc

    def end(self, proc, grace=3.0):
        """Ends one started process and its session: SIGTERM, then SIGKILL after `grace`."""
        if proc.poll() is None:
            with contextlib.suppress(ProcessLookupError, PermissionError):
                os.killpg(proc.pid, signal.SIGTERM)
            try:
                proc.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                with contextlib.suppress(ProcessLookupError, PermissionError):
                    os.killpg(proc.pid, signal.SIGKILL)
                proc.wait(timeout=5)
        # Children left in the session after the leader ended.
        with contextlib.suppress(ProcessLookupError, PermissionError):
            os.killpg(proc.pid, signal.SIGKILL)
        # Ended and reaped: its process id may be reused, so close() must not signal it again.
        if proc in self.started:
            self.started.remove(proc)

    def tokened_pids(self):
        """Processes whose environment carries this test's token (all started by it)."""
        needle = f"{self.token_name}={self.token}".encode()
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open(f"/proc/{entry}/environ", "rb") as f:
                    if needle in f.read().split(b"\0"):
                        found.append(int(entry))
            except OSError:
                continue
        return found

    def close(self):
        for proc in reversed(list(self.started)):
            with contextlib.suppress(Exception):
                self.end(proc)
        for _ in range(3):
            pids = self.tokened_pids()
            if not pids:
                break
            for pid in pids:
                with contextlib.suppress(ProcessLookupError, PermissionError):
                    os.kill(pid, signal.SIGKILL)
            time.sleep(0.2)
        self.started.clear()


def run(argv, env=None, timeout=20, check_rc=True, input_text=None):
    result = subprocess.run(argv, env=env, input=input_text, capture_output=True, text=True,
                            timeout=timeout)
    if check_rc and result.returncode != 0:
        raise TestFailure(f"{' '.join(argv)} failed ({result.returncode}): {result.stderr.strip()}")
    return result


# ---- Sandbox ---------------------------------------------------------------------------------

def home_env(sandbox, path, display=None, bus=None):
    """The whole environment of a program run in a throwaway home: nothing of the caller's
    leaks in, so that a run never reads or writes the real user's settings. `sandbox` gives
    `home`, `config`, `runtime`, `wineprefix` and `user` (who runs the programs, None for the
    caller); `display` and `bus` are the desktop's."""
    user = sandbox.user
    env = {
        "HOME": str(sandbox.home),
        "USER": user.pw_name if user else os.environ.get("USER", "root"),
        "LOGNAME": user.pw_name if user else os.environ.get("LOGNAME", "root"),
        "PATH": path,
        "LANG": "C.UTF-8",
        "XDG_CONFIG_HOME": str(sandbox.config),
        "XDG_DATA_HOME": str(sandbox.home / ".local/share"),
        "XDG_CACHE_HOME": str(sandbox.home / ".cache"),
        "XDG_RUNTIME_DIR": str(sandbox.runtime),
        "XDG_DATA_DIRS": "/usr/local/share:/usr/share",
        "XDG_CONFIG_DIRS": "/etc/xdg",
        "WINEPREFIX": str(sandbox.wineprefix),
        "QT_QPA_PLATFORM": "xcb",
    }
    if display is not None:
        env["DISPLAY"] = display
    if bus is not None:
        env["DBUS_SESSION_BUS_ADDRESS"] = bus
    return env


class Sandbox:
    """A throwaway home, Wine prefix, program copy and recorder directory."""

    def __init__(self, program, artifacts):
        self.token = uuid.uuid4().hex
        self.user = program_user()
        self.root = Path(tempfile.mkdtemp(prefix="fb-e2e-"))
        self.artifacts = Path(artifacts)
        self.artifacts.mkdir(parents=True, exist_ok=True)
        self.home = self.root / "home"
        self.config = self.home / ".config"
        self.runtime = self.root / "runtime"
        self.wineprefix = self.home / ".wine"
        self.bin = self.root / "bin"
        self.prefix = self.root / "usr"     # an installation layout: bin/ and share/
        self.records_path = self.root / "records.jsonl"
        for d in (self.home, self.config, self.home / ".local/share", self.home / ".cache",
                  self.bin, self.prefix / "bin", self.wineprefix / "drive_c",
                  self.wineprefix / "dosdevices"):
            d.mkdir(parents=True, exist_ok=True)
        self.runtime.mkdir(mode=0o700)
        os.symlink("../drive_c", self.wineprefix / "dosdevices" / "c:")
        for name in ("wine", "xdg-open", "UpdateApp.exe"):
            target = self.bin / name
            shutil.copyfile(HERE / "recorder.py", target)
            target.chmod(0o755)
        # Root's file, in a folder of the user's (the settings file goes beside it).
        self.program = self.prefix / "bin" / "flowbright"
        shutil.copy2(program, self.program)
        self.program.chmod(0o755)
        self.records_path.touch()
        self.hand_over()

    def hand_over(self):
        """Gives the sandbox (all but the program file) to the user who runs the programs, with
        whatever the test wrote into it so far."""
        give_tree(self.root, self.user, keep=[self.program])

    def grant_raw_socket(self):
        """The program copy gets the capability to open the watcher's packet socket (as root,
        once installed, does); the copy is root's, so the user cannot change it."""
        check(self.user is not None, "only root can give the program a capability")
        run(["setcap", "cap_net_raw+ep", str(self.program)])

    # Paths the program uses.
    @property
    def ini_path(self):
        return self.program.with_name("flowbright.ini")

    @property
    def store_path(self):
        return self.config / "flowbright" / "registry.reg"

    @property
    def autostart_path(self):
        return self.config / "autostart" / "Flowbright.desktop"

    def env(self, display=None, bus=None):
        env = home_env(self, f"{self.bin}:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin",
                       display, bus)
        env.update({
            "QT_ACCESSIBILITY": "1",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "FB_E2E_RECORDS": str(self.records_path),
            "FB_E2E_TOKEN": self.token,
        })
        # Sanitizer builds keep their options.
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        return env

    # What the recorders saw.
    def records(self, name=None):
        out = []
        with open(self.records_path, encoding="utf-8") as f:
            fcntl.flock(f.fileno(), fcntl.LOCK_SH)
            for line in f:
                line = line.strip()
                if line:
                    entry = json.loads(line)
                    if name is None or entry["name"] == name:
                        out.append(entry)
        return out

    # The program's own store.
    def write_store(self, values):
        self.store_path.parent.mkdir(parents=True, exist_ok=True)
        self.store_path.write_text(registry_text({OPTION_KEY: values}), encoding="utf-8")

    def store(self):
        if not self.store_path.exists():
            return {}
        return parse_registry(self.store_path.read_text(encoding="utf-8", errors="replace"))

    def store_value(self, name):
        return registry_value(self.store(), OPTION_KEY, name)

    # The Wine prefix.
    def write_wine_user_reg(self, keys):
        (self.wineprefix / "user.reg").write_text(registry_text(keys), encoding="utf-8")

    def install_windows_client(self, windows_dir, exe_name, create_exe=True):
        """Creates drive_c/<windows_dir>/<exe_name> (a Windows path "C:\\...")."""
        check(windows_dir[:3].upper() == "C:\\", "Windows path on drive C expected")
        unix = self.wineprefix / "drive_c" / windows_dir[3:].replace("\\", "/")
        unix.mkdir(parents=True, exist_ok=True)
        if create_exe:
            (unix / exe_name).write_bytes(b"MZ\x90\x00")
        return unix / exe_name

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)


# ---- Network namespace ----------------------------------------------------------------------

class NetNamespace:
    """A network namespace of the test's own with a veth pair, so that the program sees two
    known adapters and nothing of the machine's interfaces. Needs root."""

    def __init__(self, token):
        self.name = f"fbe2e-{token[:10]}"
        run(["ip", "netns", "add", self.name])
        try:
            run(["ip", "-n", self.name, "link", "add", VETH_NAMES[0], "type", "veth",
                 "peer", "name", VETH_NAMES[1]])
            for dev in ("lo",) + VETH_NAMES:
                run(["ip", "-n", self.name, "link", "set", dev, "up"])
        except Exception:
            self.close()
            raise

    def wrap(self, argv):
        return ["ip", "netns", "exec", self.name] + list(argv)

    def close(self):
        run(["ip", "netns", "del", self.name], check_rc=False)

    @staticmethod
    def available():
        if not is_root() or shutil.which("ip") is None:
            return False
        probe = f"fbe2e-probe-{os.getpid()}"
        ok = run(["ip", "netns", "add", probe], check_rc=False).returncode == 0
        if ok:
            ok = run(["ip", "-n", probe, "link", "add", "p0", "type", "veth", "peer", "name",
                      "p1"], check_rc=False).returncode == 0
            run(["ip", "netns", "del", probe], check_rc=False)
        return ok


# ---- Desktop ----------------------------------------------------------------------------------

def _free_display(start=150, stop=400):
    for n in range(start, stop):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            yield n


class Desktop:
    """Xvfb (on the first free display from `first_display` up) + openbox + trayer + a session
    bus, all ended by the sandbox's Processes."""

    def __init__(self, sandbox, processes, width=1024, height=768, first_display=150,
                 tray=True):
        self.sandbox = sandbox
        self.processes = processes
        self.logs = sandbox.artifacts
        self.display = None
        self.display_number = None
        self.xvfb = None
        self.tray = None
        for n in _free_display(first_display):
            proc = processes.start(["Xvfb", f":{n}", "-screen", "0", f"{width}x{height}x24",
                                    "-nolisten", "tcp", "-noreset"],
                                   sandbox.env(), log_path=self.logs / "xvfb.log")
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and proc.poll() is None:
                if os.path.exists(f"/tmp/.X11-unix/X{n}") and run(
                        ["xdpyinfo", "-display", f":{n}"], check_rc=False).returncode == 0:
                    self.display, self.display_number, self.xvfb = f":{n}", n, proc
                    break
                time.sleep(0.05)
            if self.display:
                break
            processes.end(proc)
        check(self.display is not None, "no free X display could be started")
        self.bus = self._start_bus()
        self.env = sandbox.env(self.display, self.bus)
        processes.start(["openbox", "--sm-disable"], self.env, log_path=self.logs / "openbox.log")
        wait_until(lambda: "window id" in run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
                                              env=self.env, check_rc=False).stdout,
                   10, "the window manager")
        if tray:
            self.start_tray()

    def start_tray(self):
        """Starts the notification area (trayer) and waits until it owns the tray selection."""
        self.tray = self.processes.start(
            ["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request",
             "--height", "32", "--SetDockType", "true", "--transparent", "false",
             "--tint", "0xffffff"],
            self.env, log_path=self.logs / "trayer.log")
        wait_until(self._tray_window, 10, "the notification area (trayer)")

    def stop_tray(self):
        """Kills the notification area, as a crash would: no chance to hand its icons back."""
        check(self.tray is not None, "no notification area to stop")
        with contextlib.suppress(ProcessLookupError):
            os.killpg(self.tray.pid, signal.SIGKILL)
        self.processes.end(self.tray)
        self.tray = None
        wait_until(lambda: self._tray_window() is None, 10, "the notification area to go")

    def _start_bus(self):
        # The program's user owns the session: the bus and the services it starts.
        self.sandbox.hand_over()
        address = f"unix:path={self.sandbox.runtime}/bus"
        proc = self.processes.start(
            as_user(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                     f"--address={address}"], self.sandbox.user),
            self.sandbox.env(self.display), log_path=self.logs / "dbus.log")
        wait_until(lambda: proc.poll() is not None or os.path.exists(self.sandbox.runtime / "bus"),
                   10, "the session bus")
        check(proc.poll() is None, "the session bus did not start")
        return address

    def _tray_window(self):
        # The panel stays unmapped while it holds no icon; its window exists once trayer
        # owns the tray selection.
        result = self.x(["xdotool", "search", "--class", "trayer"], check_rc=False)
        ids = result.stdout.split()
        return ids[0] if ids else None

    def x(self, argv, check_rc=True, timeout=20):
        return run(argv, env=self.env, check_rc=check_rc, timeout=timeout)

    # Windows.
    def visible_windows(self, name_regex):
        result = self.x(["xdotool", "search", "--onlyvisible", "--name", name_regex],
                        check_rc=False)
        return [int(w) for w in result.stdout.split()]

    def window_info(self, window):
        text = self.x(["xwininfo", "-id", str(window)], check_rc=False).stdout
        info = {}
        for key, pattern in (("x", r"Absolute upper-left X:\s+(-?\d+)"),
                             ("y", r"Absolute upper-left Y:\s+(-?\d+)"),
                             ("width", r"Width:\s+(\d+)"), ("height", r"Height:\s+(\d+)")):
            m = re.search(pattern, text)
            if m:
                info[key] = int(m.group(1))
        m = re.search(r"Map State:\s+(\w+)", text)
        info["map_state"] = m.group(1) if m else None
        return info

    def window_title(self, window):
        out = self.x(["xprop", "-id", str(window), "_NET_WM_NAME"], check_rc=False).stdout
        m = re.search(r'= "(.*)"', out)
        return m.group(1) if m else None

    def window_property(self, window, name):
        return self.x(["xprop", "-id", str(window), name], check_rc=False).stdout.strip()

    def windows_of_pid(self, pid):
        result = self.x(["xdotool", "search", "--all", "--pid", str(pid), "--name", ".*"],
                        check_rc=False)
        return [int(w) for w in result.stdout.split()]

    # Input.
    def click(self, x, y, button=1, repeat=1):
        # "mousemove --sync" waits for a motion event, which never comes when the pointer is
        # already there.
        self.x(["xdotool", "mousemove", str(int(x)), str(int(y))])
        time.sleep(0.15)
        argv = ["xdotool", "click"]
        if repeat > 1:
            argv += ["--repeat", str(repeat), "--delay", "80"]
        self.x(argv + [str(button)])

    def key(self, *keys):
        self.x(["xdotool", "key", "--delay", "50"] + list(keys))

    def activate(self, window):
        self.x(["xdotool", "windowactivate", "--sync", str(window)], check_rc=False, timeout=10)
        self.x(["xdotool", "windowfocus", "--sync", str(window)], check_rc=False, timeout=10)

    def screenshot(self, name, window=None):
        path = self.logs / f"{name}.png"
        target = str(window) if window is not None else "root"
        self.x([IMPORT, "-window", target, str(path)], timeout=30)
        return path


def image_colours(path):
    """Number of distinct colours of an image (ImageMagick)."""
    out = run([IDENTIFY, "-format", "%k", str(path)], timeout=30).stdout.strip()
    return int(out or 0)


# ---- The program ------------------------------------------------------------------------------

class Flowbright:
    """One run of the program on a desktop, as the sandbox's user when the caller is root;
    with `raw_socket`, the program file carries the capability for the watcher's socket."""

    def __init__(self, desktop, netns=None, cwd=None, name="flowbright", argv=None,
                 raw_socket=False):
        self.desktop = desktop
        self.sandbox = desktop.sandbox
        self.raw_socket = raw_socket
        if raw_socket:
            self.sandbox.grant_raw_socket()
        self.sandbox.hand_over()
        argv = as_user(list(argv) if argv else [str(self.sandbox.program)], self.sandbox.user,
                       raw_socket)
        if netns is not None:
            argv = netns.wrap(argv)
        self.log_path = self.sandbox.artifacts / f"{name}.log"
        self.proc = desktop.processes.start(argv, desktop.env, log_path=self.log_path,
                                            cwd=str(cwd or self.sandbox.home))
        self.pid = self.proc.pid
        self.main_window = None
        self._monitor = None
        self._monitor_buffer = b""

    def alive(self):
        return self.proc.poll() is None

    def check_unprivileged(self):
        """Fails when the program runs as root, or (unless it is meant to) can reach
        CAP_NET_RAW."""
        check(self.alive(), "the program ended: " + self.log_tail())
        return check_unprivileged(self.pid, self.sandbox.user, self.raw_socket)

    def wait_exit(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise TestFailure(f"the program did not end within {timeout} s") from None

    def log_tail(self, lines=30):
        try:
            return "\n".join(self.log_path.read_text(errors="replace").splitlines()[-lines:])
        except OSError:
            return ""

    # Windows.
    def titled_windows(self):
        """Visible top-level windows titled "Flowbright", largest first."""
        wins = []
        for w in self.desktop.visible_windows("^Flowbright$"):
            info = self.desktop.window_info(w)
            if info.get("map_state") == "IsViewable":
                wins.append((info.get("width", 0) * info.get("height", 0), w))
        return [w for _, w in sorted(wins, reverse=True)]

    def wait_main_window(self, timeout=30):
        def found():
            check(self.alive(), "the program ended: " + self.log_tail())
            nodes = self.tree()
            quit_button = find_node(nodes, role="push button", name="Quit")
            if quit_button is None or "showing" not in quit_button["states"]:
                return None
            wins = self.titled_windows()
            return wins[0] if wins else None
        self.main_window = wait_until(found, timeout, "the main window")
        self.check_unprivileged()
        return self.main_window

    def main_window_viewable(self):
        info = self.desktop.window_info(self.main_window)
        return info.get("map_state") == "IsViewable"

    # Accessibility tree.
    def tree(self):
        result = run(as_user([SYSTEM_PYTHON, str(HERE / "atspi_probe.py"), "tree",
                              str(self.pid)], self.sandbox.user),
                     env=self.desktop.env, check_rc=False, timeout=30)
        if result.returncode != 0:
            raise TestFailure("reading the accessibility tree failed: " + result.stderr[-500:])
        data = json.loads(result.stdout)
        if not data["found"]:
            raise TestFailure("the program is not on the accessibility bus")
        return data["nodes"]

    def node(self, timeout=10, **criteria):
        return wait_until(lambda: find_node(self.tree(), **criteria), timeout,
                          f"an accessible {criteria}")

    def click_node(self, node, button=1, repeat=1):
        x, y, w, h = node["extents"]
        check(w > 0 and h > 0, f"{node['role']} {node['name']!r} has no extents")
        self.desktop.click(x + w // 2, y + h // 2, button=button, repeat=repeat)

    def control(self, role, name, timeout=10):
        """A control of the main window by role and accessible name."""
        return self.node(timeout=timeout, role=role, name=name, showing=True)

    def accelerate_button(self, nodes=None):
        """The ACCELLERATE! button (a checkable button: its accessible name is its text)."""
        nodes = nodes if nodes is not None else self.tree()
        for node in nodes:
            if node["role"] in ("check box", "toggle button") and "showing" in node["states"] \
                    and node["name"].startswith("Mode: "):
                return node
        raise TestFailure("no ACCELLERATE! button in the accessibility tree")

    def combos(self, nodes=None):
        """The main window's two combo boxes found by their captions: the client list (1034),
        labelled "Run P2P", then the adapter list (1028), labelled "Network Adapter". A combo
        is named by its caption, or (where the toolkit names it by its current text) labelled
        by it."""
        nodes = nodes if nodes is not None else self.tree()
        found = []
        for caption in COMBO_CAPTIONS:
            matches = [n for n in nodes if n["role"] == "combo box" and "showing" in n["states"]
                       and n["extents"] and (n["name"] == caption
                                             or caption in n["labelled_by"])]
            check(len(matches) == 1,
                  f"expected one combo box captioned {caption!r}, found {len(matches)}")
            found.append(matches[0])
        return found

    def combo_state(self, which):
        """(current text, [row texts]) of combo 0 (clients) or 1 (adapters). The current text
        is the text of the combo's edit field."""
        nodes = self.tree()
        combo = self.combos(nodes)[which]
        below = descendants(nodes, combo)
        rows = [n["name"] for n in below if n["role"] == "list item"]
        fields = [n for n in below if n["role"] == "text" and n["text"] is not None]
        current = fields[0]["text"] if fields else combo["name"]
        return current, rows

    def pick_combo_row(self, which, row_text):
        """Opens the list of combo `which` with a click on its arrow and picks a row with the
        keyboard (the open list's rows have no reliable screen positions in the tree)."""
        current, rows = self.combo_state(which)
        check(row_text in rows, f"no row {row_text!r} in {rows}")
        target = rows.index(row_text)
        here = rows.index(current) if current in rows else 0
        combo = self.combos()[which]
        x, y, w, h = combo["extents"]
        self.desktop.click(x + w - 6, y + h // 2)
        time.sleep(0.6)
        steps = target - here
        if steps:
            self.desktop.key(*(["Down"] * steps if steps > 0 else ["Up"] * -steps))
        self.desktop.key("Return")

    # Tray.
    def tray_icon(self, timeout=15):
        """Screen rectangle of the program's icon embedded in the notification area."""
        def find():
            for w in self.desktop.windows_of_pid(self.pid):
                info = self.desktop.window_info(w)
                if info.get("map_state") != "IsViewable":
                    continue
                if not (0 < info.get("width", 0) <= 64 and 0 < info.get("height", 0) <= 64):
                    continue
                tree = self.desktop.x(["xwininfo", "-children", "-id", str(w)],
                                      check_rc=False).stdout
                parent = tree.split("Parent window id:")[-1].splitlines()[0]
                if "(the root window)" in parent:
                    continue  # a top-level window, not an embedded icon
                return (info["x"], info["y"], info["width"], info["height"])
            return None
        return wait_until(find, timeout, "the tray icon")

    def tray_icon_present(self):
        try:
            return self.tray_icon(timeout=0.5) is not None
        except TestFailure:
            return False

    def double_click_tray(self):
        x, y, w, h = self.tray_icon()
        self.desktop.click(x + w // 2, y + h // 2, repeat=2)

    def _menu_monitor(self):
        if self._monitor is None or self._monitor.poll() is not None:
            self._monitor = self.desktop.processes.start(
                as_user([SYSTEM_PYTHON, str(HERE / "atspi_probe.py"), "monitor",
                         str(self.pid)], self.sandbox.user),
                self.desktop.env, stdout=subprocess.PIPE,
                log_path=self.sandbox.artifacts / "atspi-monitor.log")
            self._monitor_buffer = b""
            log = self.sandbox.artifacts / "atspi-monitor.log"
            wait_until(lambda: "ready" in log.read_text(errors="replace"), 15,
                       "the accessibility monitor")
            time.sleep(0.5)  # the bridge learns of a new listener asynchronously
        return self._monitor

    def _monitor_lines(self, timeout):
        """Complete lines the monitor wrote within `timeout` seconds (at least one if any)."""
        monitor = self._menu_monitor()
        fd = monitor.stdout.fileno()
        deadline = time.monotonic() + timeout
        lines = []
        while not lines:
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([fd], [], [], remaining)[0]:
                break
            chunk = os.read(fd, 1 << 20)
            if not chunk:
                break
            self._monitor_buffer += chunk
            *complete, self._monitor_buffer = self._monitor_buffer.split(b"\n")
            lines += [json.loads(line) for line in complete if line.strip()]
        return lines

    def open_tray_menu(self):
        """Right-clicks the tray icon and highlights the first item with Down. Returns the
        menu's items as the accessibility tree reports them (names without mnemonics,
        separators with role "separator", "checked" among the states of a checked item)."""
        x, y, w, h = self.tray_icon()
        self._menu_monitor()
        self._monitor_lines(0)  # what earlier menus left
        self.desktop.click(x + w // 2, y + h // 2, button=3)
        time.sleep(0.5)
        self.desktop.key("Down")
        for _ in range(4):
            lines = self._monitor_lines(2.0)
            if lines:
                break
            self.desktop.key("Up", "Down")  # move away from the first item and back
        check(lines, "the tray menu did not open (no item took the focus)")
        time.sleep(0.2)
        lines += self._monitor_lines(0.3)
        return lines[-1]["items"]

    def choose_tray_command(self, text):
        """Opens the tray menu and chooses the item `text` with the keyboard."""
        items = self.open_tray_menu()
        actionable = [n for n in items if n["role"] != "separator"]
        names = [n["name"] for n in actionable]
        check(text in names, f"no tray menu item {text!r} in {names}")
        # Down has highlighted the first actionable item.
        steps = names.index(text)
        if steps:
            self.desktop.key(*(["Down"] * steps))
        self.desktop.key("Return")
        return items


def find_node(nodes, role=None, name=None, showing=None, name_contains=None):
    for node in nodes:
        if role is not None and node["role"] != role:
            continue
        if name is not None and node["name"] != name:
            continue
        if name_contains is not None and name_contains not in node["name"] and \
                name_contains not in (node["text"] or ""):
            continue
        if showing and "showing" not in node["states"]:
            continue
        return node
    return None


def descendants(nodes, parent):
    depth = len(parent["path"])
    return [n for n in nodes if len(n["path"]) > depth and n["path"][:depth] == parent["path"]]
