#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end suite: starts the built Flowbright on a desktop of its own and checks what a
user and the system see.

    run_e2e.py --program build/flowbright [--artifacts DIR] [-k SUBSTRING] [--list]

Each test runs in a fresh sandbox (home, Wine prefix, program copy, recorders) on a fresh
desktop (Xvfb, openbox, trayer, session bus) and is bounded in time; every process it started
is ended when it finishes, whatever the outcome. Screenshots and logs of each test are kept in
the artifacts directory. The last line is "N passed, N failed, N skipped"; the exit status is
non-zero when a test failed.
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import traceback
from pathlib import Path

sys.dont_write_bytecode = True  # keep the source tree free of __pycache__
sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness as h  # noqa: E402
from harness import check  # noqa: E402

TEST_TIME_LIMIT = 150  # seconds per test
EMULE_DIR = "C:\\Program Files\\eMule"
EMULE_EXE = EMULE_DIR + "\\eMule.exe"
NOT_FOUND = "Emule NOT FOUND. Emule will be removed from list."

TESTS = []


def test(function):
    TESTS.append(function)
    return function


class Context:
    """What a test works with; everything is ended and removed by close()."""

    def __init__(self, program, artifacts, name):
        self.sandbox = h.Sandbox(program, Path(artifacts) / name)
        self.processes = h.Processes(self.sandbox.token)
        self.netns = None
        self.desktop = None
        self.runs = 0

    def start_desktop(self, netns=True, tray=True):
        if netns and h.NetNamespace.available():
            self.netns = h.NetNamespace(self.sandbox.token)
        self.desktop = h.Desktop(self.sandbox, self.processes, tray=tray)
        return self.desktop

    def start(self, cwd=None, wait=True, raw_socket=False):
        """Starts the program; with `wait`, until its main window shows. With `raw_socket`
        (as root only) the program file carries the capability for the watcher's socket."""
        if self.desktop is None:
            self.start_desktop()
        self.runs += 1
        app = h.Flowbright(self.desktop, netns=self.netns, cwd=cwd,
                           name=f"flowbright-run{self.runs}", raw_socket=raw_socket)
        if wait:
            app.wait_main_window()
        return app

    def close(self):
        try:
            self.processes.close()
        finally:
            if self.netns is not None:
                self.netns.close()
            self.sandbox.cleanup()


# ---- helpers ----------------------------------------------------------------------------------

def seed_emule(sandbox, create_exe=True):
    """eMule installed in the Wine prefix the way its installer registers it."""
    sandbox.write_wine_user_reg({"Software\\eMule": {"Install Path": EMULE_DIR}})
    # Stored in the prefix in other letter cases than the registry names them.
    return sandbox.install_windows_client("C:\\program files\\EMULE", "emule.EXE",
                                          create_exe=create_exe)


def button(app, name, nodes=None):
    nodes = nodes if nodes is not None else app.tree()
    node = h.find_node(nodes, role="push button", name=name, showing=True)
    check(node is not None, f"no button {name!r}")
    return node


def enabled(node):
    return "enabled" in node["states"] and "sensitive" in node["states"]


def wait_sz(sandbox, name, expected, timeout=10):
    def holds():
        value = sandbox.store_value(name)
        return value == ("sz", expected)
    h.wait_until(holds, timeout, f"{name} = {expected!r} in the registry store "
                 f"(now {sandbox.store_value(name)!r})")


def check_ini_written(sandbox, expected=None, order=None):
    """The settings file holds all 25 keys with the expected values (defaults where none is
    given); its sections come in `order`, on a new file main, filters, mainwindow, list, log."""
    path = sandbox.ini_path
    check(path.exists(), f"no settings file beside the program ({path})")
    ini = h.parse_ini(path)
    sections = [s for s in h.section_order(path) if s in h.INI_KEYS]
    check(sections == (order or list(h.INI_KEYS)), f"sections in the order {sections}")
    count = 0
    for section, keys in h.INI_KEYS.items():
        for key in keys:
            check(ini.has_option(section, key), f"[{section}] {key} missing from the INI file")
            count += 1
            want = (expected or {}).get(key, h.INI_DEFAULTS[key])
            got = ini.get(section, key)
            check(got == want, f"[{section}] {key} = {got!r}, expected {want!r}")
    check(count == 25, "25 keys")
    return ini


def check_ended_cleanly(ctx, app, cause):
    """After a Quit or a termination request: exit status 0, every setting written, and no
    tray icon left behind in the notification area."""
    check(app.wait_exit(15) == 0, f"exit status after {cause}")
    check_ini_written(ctx.sandbox)
    check(not app.tray_icon_present(), f"tray icon left behind after {cause}")


def graph_signature(desktop, window, name):
    """A digest of the pixels inside the main window's graph (dialog units 35, 177, 229 x 44
    of 269 x 249, less a margin for its edge), from a screenshot saved as `name`."""
    info = desktop.window_info(window)
    width, height = info["width"], info["height"]
    left, right = width * 38 // 269, width * 262 // 269
    top, bottom = height * 180 // 249, height * 219 // 249
    path = desktop.logs / f"{name}.png"
    size = f"{right - left}x{bottom - top}"
    desktop.x([h.IMPORT, "-window", str(window), "-crop", f"{size}+{left}+{top}", "+repage",
               str(path)], timeout=30)
    shot, signature = h.run([h.IDENTIFY, "-format", "%wx%h %#", str(path)],
                            timeout=30).stdout.split()
    check(shot == size, f"{path.name} is {shot}, not the graph's {size}")
    return signature


def check_graph_moves(desktop, window, what):
    """The graph scrolls: its pixels change within a second (a frozen one never does)."""
    time.sleep(0.5)  # the window's first paint after it is mapped
    signatures = set()
    for shot in range(4):
        signatures.add(graph_signature(desktop, window, f"graph-{what.replace(' ', '-')}-{shot}"))
        time.sleep(0.3)
    check(len(signatures) > 1, f"the graph stands still {what}")


def wait_not_found_message(app):
    def message():
        check(app.alive(), "the program ended: " + app.log_tail())
        for node in app.tree():
            if NOT_FOUND in (node["name"], node["text"]):
                return node
        return None
    return h.wait_until(message, 30, "the NOT FOUND message")


def screenshot_checked(desktop, name, window=None):
    path = desktop.screenshot(name, window)
    colours = h.image_colours(path)
    check(colours > 8, f"screenshot {path.name} looks blank ({colours} colours)")
    return path


# ---- tests ------------------------------------------------------------------------------------

@test
def first_start_on_a_clean_machine(ctx):
    app = ctx.start()
    d = ctx.desktop
    check(d.window_title(app.main_window) == "Flowbright", "main window title")
    screenshot_checked(d, "main-window", app.main_window)
    # The updater, found on PATH, with its five arguments, once.
    h.wait_until(lambda: ctx.sandbox.records("UpdateApp.exe"), 10, "the updater to start")
    time.sleep(1.0)
    updates = ctx.sandbox.records("UpdateApp.exe")
    check(len(updates) == 1, f"the updater started {len(updates)} times")
    check(updates[0]["argv"] == h.UPDATER_ARGS, f"updater arguments {updates[0]['argv']}")
    # No message, one window.
    check(len(app.titled_windows()) == 1, "a second Flowbright window (a message?) is shown")
    nodes = app.tree()
    check(not [n for n in nodes if n["role"] == "alert"], "a message box is shown")
    # No client anywhere: the list says so and the group is locked.
    client, rows = app.combo_state(0)
    check(client == "No P2P Application has been detected", f"client combo shows {client!r}")
    check(rows == ["No P2P Application has been detected"], f"client rows {rows}")
    check(not enabled(button(app, "Run", nodes)), "Run is enabled without a client")
    accel = app.accelerate_button(nodes)
    check(accel["name"] == h.ACTIVE_TEXT, f"ACCELLERATE! reads {accel['name']!r}")
    check("checked" in accel["states"], "ACCELLERATE! is not pressed at start")
    check(not enabled(accel), "ACCELLERATE! is enabled without a client")
    check(not ctx.sandbox.records("wine") and not ctx.sandbox.records("xdg-open"),
          "something else was started")
    # Quit ends the program and writes the settings file with every default.
    app.click_node(button(app, "Quit"))
    check_ended_cleanly(ctx, app, "Quit")


@test
def stored_client_found_and_run_through_wine(ctx):
    seed_emule(ctx.sandbox)
    ctx.sandbox.write_store({"APP_NAME": "Emule", "APP_PATH": EMULE_EXE})
    app = ctx.start()
    nodes = app.tree()
    check(not [n for n in nodes if n["role"] == "alert"], "a message box is shown")
    client, rows = app.combo_state(0)
    check(client == "Emule", f"client combo shows {client!r}")
    check(rows == ["Select application to run", "Emule"], f"client rows {rows}")
    run_button = button(app, "Run", nodes)
    check(enabled(run_button), "Run is disabled with a valid stored client")
    accel = app.accelerate_button(nodes)
    check(enabled(accel) and "checked" in accel["states"] and accel["name"] == h.ACTIVE_TEXT,
          f"ACCELLERATE! {accel['name']!r} {accel['states']}")
    app.click_node(run_button)
    runs = h.wait_until(lambda: ctx.sandbox.records("wine"), 10, "the client to start via wine")
    check(runs[0]["argv"] == [EMULE_EXE], f"wine arguments {runs[0]['argv']}")
    check(runs[0]["wineprefix"] == str(ctx.sandbox.wineprefix),
          f"WINEPREFIX of the client {runs[0]['wineprefix']}")
    time.sleep(0.5)
    check(len(ctx.sandbox.records("wine")) == 1, "the client started more than once")
    screenshot_checked(ctx.desktop, "client-selected", app.main_window)


@test
def stored_client_since_uninstalled(ctx):
    ctx.sandbox.write_store({"APP_NAME": "Emule", "APP_PATH": EMULE_EXE})
    app = ctx.start(wait=False)

    def message():
        check(app.alive(), "the program ended: " + app.log_tail())
        nodes = app.tree()
        for node in nodes:
            if NOT_FOUND in (node["name"], node["text"]):
                return node
        return None
    h.wait_until(message, 30, "the NOT FOUND message")
    boxes = app.titled_windows()
    check(boxes, "the message has no window titled Flowbright")
    screenshot_checked(ctx.desktop, "not-found-message", boxes[-1])
    ctx.desktop.activate(boxes[-1])
    ctx.desktop.key("Return")
    app.wait_main_window()
    h.wait_until(lambda: not message(), 10, "the message to close")
    # The choice is cleared to empty strings, not deleted.
    wait_sz(ctx.sandbox, "APP_NAME", "")
    wait_sz(ctx.sandbox, "APP_PATH", "")
    client, rows = app.combo_state(0)
    check(client == "No P2P Application has been detected", f"client combo shows {client!r}")
    check(not enabled(button(app, "Run")), "Run is enabled after the client vanished")
    # One message only.
    check(len(app.titled_windows()) == 1, "more windows than the main window")


@test
def picking_a_client_and_toggling_accelerate(ctx):
    seed_emule(ctx.sandbox)
    app = ctx.start()
    client, rows = app.combo_state(0)
    check(client == "Select application to run", f"client combo shows {client!r}")
    check(rows == ["Select application to run", "Emule"], f"client rows {rows}")
    check(not enabled(button(app, "Run")), "Run is enabled before a client is picked")
    check(not enabled(app.accelerate_button()), "ACCELLERATE! is enabled before a pick")
    app.pick_combo_row(0, "Emule")
    wait_sz(ctx.sandbox, "APP_NAME", "Emule")
    wait_sz(ctx.sandbox, "APP_PATH", EMULE_EXE)
    h.wait_until(lambda: enabled(button(app, "Run")), 10, "Run to be enabled")
    accel = app.accelerate_button()
    check(enabled(accel), "ACCELLERATE! still disabled after the pick")
    check(accel["name"] == h.ACTIVE_TEXT and "checked" in accel["states"], "mode after pick")
    # Off ...
    app.click_node(accel)
    h.wait_until(lambda: app.accelerate_button()["name"] == h.INACTIVE_TEXT, 10,
                 "the button to read Mode: Inactive")
    check("checked" not in app.accelerate_button()["states"], "button still pressed")
    screenshot_checked(ctx.desktop, "mode-inactive", app.main_window)
    # ... and on again.
    app.click_node(app.accelerate_button())
    h.wait_until(lambda: app.accelerate_button()["name"] == h.ACTIVE_TEXT, 10,
                 "the button to read Mode: Active")
    check("checked" in app.accelerate_button()["states"], "button not pressed")
    # Back to the prompt row: the choice is cleared and the group locks.
    app.pick_combo_row(0, "Select application to run")
    wait_sz(ctx.sandbox, "APP_NAME", "")
    wait_sz(ctx.sandbox, "APP_PATH", "")
    h.wait_until(lambda: not enabled(button(app, "Run")), 10, "Run to be disabled")


@test
def picking_a_client_whose_program_was_deleted(ctx):
    seed_emule(ctx.sandbox, create_exe=False)
    app = ctx.start()
    app.pick_combo_row(0, "Emule")

    def message():
        for node in app.tree():
            if NOT_FOUND in (node["name"], node["text"]):
                return node
        return None
    h.wait_until(message, 15, "the NOT FOUND message")
    boxes = app.titled_windows()
    ctx.desktop.activate(boxes[-1])
    ctx.desktop.key("Return")
    h.wait_until(lambda: not message(), 10, "the message to close")
    client, rows = app.combo_state(0)
    check(rows == ["No P2P Application has been detected"], f"rows after removal {rows}")
    check(not enabled(button(app, "Run")), "Run is enabled")
    check(ctx.sandbox.store_value("APP_NAME") in (None, ("sz", "")), "a choice was stored")
    check(not ctx.sandbox.records("wine"), "something was started through wine")


@test
def adapter_choice_survives_a_restart(ctx):
    ctx.start_desktop()
    app = ctx.start()
    current, rows = app.combo_state(1)
    if len(rows) < 2:
        raise h.TestSkipped(f"needs two adapters, this machine lists {rows} (run as root "
                            "for a network namespace with two)")
    if ctx.netns is not None:
        for name in h.VETH_NAMES:
            check(any(name in row for row in rows), f"adapter {name} not listed in {rows}")
    check(current == rows[0], f"first start selects {current!r}, not the first entry")
    app.pick_combo_row(1, rows[1])
    h.wait_until(lambda: ctx.sandbox.store_value("Network") == ("dword", 1), 10,
                 f"Network = 1 in the registry store (now {ctx.sandbox.store_value('Network')})")
    check(app.combo_state(1)[0] == rows[1], "the adapter combo does not show the pick")
    app.click_node(button(app, "Quit"))
    check(app.wait_exit(15) == 0, "exit status of Quit")
    again = ctx.start()
    current, rows_again = again.combo_state(1)
    check(rows_again == rows, f"adapter list changed: {rows_again}")
    check(current == rows[1], f"after the restart the adapter combo shows {current!r}")
    screenshot_checked(ctx.desktop, "adapter-restored", again.main_window)


TRAFFIC_SENDER = r"""
import math, socket, sys, time
# Sends UDP datagrams out of one veth end for a while, at a rate that swells and ebbs.
source, target, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind((source, 0))
payload = bytes(1400)
start = time.monotonic()
while (now := time.monotonic() - start) < seconds:
    burst = int(400 + 380 * math.sin(now * 1.3))
    for _ in range(burst):
        sock.sendto(payload, (target, 9))
    time.sleep(0.01)
"""


@test
def accelerating_with_traffic(ctx):
    """The main window accelerating while traffic flows, and the tray menu: the README's
    pictures."""
    if not h.NetNamespace.available():
        raise h.TestSkipped("needs root for a network namespace with traffic")
    seed_emule(ctx.sandbox)
    ctx.sandbox.write_store({"APP_NAME": "Emule", "APP_PATH": EMULE_EXE})
    ctx.start_desktop()
    ns = ctx.netns
    lan0, lan1 = h.VETH_NAMES
    h.run(ns.wrap(["ip", "addr", "add", "10.77.0.1/24", "dev", lan0]))
    h.run(ns.wrap(["ip", "addr", "add", "10.78.0.1/24", "dev", lan1]))
    macs = {}
    for dev in (lan0, lan1):
        out = h.run(ns.wrap(["cat", f"/sys/class/net/{dev}/address"])).stdout.strip()
        macs[dev] = out
    # Datagrams to a neighbour that exists only on the far end of each link: they cross the
    # pair once and are dropped there, never leaving the namespace.
    h.run(ns.wrap(["ip", "neigh", "add", "10.77.0.2", "lladdr", macs[lan1], "dev", lan0]))
    h.run(ns.wrap(["ip", "neigh", "add", "10.78.0.2", "lladdr", macs[lan0], "dev", lan1]))
    # The watcher's packet socket receives all of it, as on a machine where the program was
    # given the capability.
    app = ctx.start(raw_socket=True)
    sender = ctx.sandbox.artifacts / "traffic.py"
    sender.write_text(TRAFFIC_SENDER)
    env = ctx.sandbox.env()
    ctx.processes.start(ns.wrap(["/usr/bin/python3", str(sender), "10.77.0.1", "10.77.0.2", "14"]),
                        env, log_path=ctx.sandbox.artifacts / "traffic-out.log")
    ctx.processes.start(ns.wrap(["/usr/bin/python3", str(sender), "10.78.0.1", "10.78.0.2", "14"]),
                        env, log_path=ctx.sandbox.artifacts / "traffic-in.log")
    time.sleep(10)
    shot = screenshot_checked(ctx.desktop, "main-window-accelerating", app.main_window)
    check(h.image_colours(shot) > 8, "plain picture")
    app.open_tray_menu()
    time.sleep(0.5)
    ctx.desktop.screenshot("tray-menu")
    ctx.desktop.key("Escape")
    check(app.alive(), "the program ended")


@test
def escape_hides_to_tray_and_double_click_restores(ctx):
    app = ctx.start()
    d = ctx.desktop
    check(app.tray_icon_present(), "no tray icon")
    check(ctx.sandbox.store_value("CheckPeriodNum") is None, "options written before a hide")
    d.activate(app.main_window)
    d.key("Escape")
    h.wait_until(lambda: not app.main_window_viewable(), 10, "the window to hide")
    check(app.alive(), "Escape ended the program")
    check(not app.titled_windows(), "a Flowbright window is still shown")
    # Each hide saves the options.
    h.wait_until(lambda: ctx.sandbox.store_value("CheckPeriodNum") == ("dword", 12), 10,
                 "CheckPeriodNum = 12 in the registry store")
    check(ctx.sandbox.store_value("CheckPeriodCombo") == ("dword", 0), "CheckPeriodCombo")
    check(ctx.sandbox.store_value("AccelerateN") == ("dword", 7), "AccelerateN")
    d.screenshot("hidden-desktop")  # nothing but the panel: too plain to check by colours
    time.sleep(1.0)
    check(not app.main_window_viewable(), "the window came back by itself")
    app.double_click_tray()
    h.wait_until(app.main_window_viewable, 10, "the window to come back")
    check(d.window_title(app.main_window) == "Flowbright", "title after restore")
    screenshot_checked(d, "restored", app.main_window)
    # The close box hides it too (WM_DELETE_WINDOW through the window manager).
    d.x(["xdotool", "windowclose", str(app.main_window)], check_rc=False)
    h.wait_until(lambda: not app.main_window_viewable(), 10, "the close box to hide")
    check(app.alive(), "the close box ended the program")


@test
def run_at_startup_through_the_tray_menu(ctx):
    app = ctx.start()
    items = app.open_tray_menu()
    names = [n["name"] if n["role"] != "separator" else None for n in items]
    check(names == h.TRAY_MENU, f"tray menu {names}")
    check("checked" not in items[0]["states"], "Run at Startup checked on a clean machine")
    ctx.desktop.key("Escape")
    time.sleep(0.3)
    check(not ctx.sandbox.autostart_path.exists(), "autostart entry before the command")

    app.choose_tray_command("Run at Startup")
    h.wait_until(ctx.sandbox.autostart_path.exists, 10, "the autostart entry")
    entry = h.parse_desktop_entry(ctx.sandbox.autostart_path)
    check(entry.get("Type") == "Application", f"Type={entry.get('Type')}")
    check(entry.get("Name"), "no Name")
    argv = h.split_exec(entry.get("Exec", ""))
    check(argv == [f"{ctx.sandbox.home}/Flowbright.lnk", "-tray"], f"Exec arguments {argv}")

    items = app.open_tray_menu()
    check("checked" in items[0]["states"], "Run at Startup not checked with the entry present")
    ctx.desktop.key("Escape")
    time.sleep(0.3)
    app.choose_tray_command("Run at Startup")
    h.wait_until(lambda: not ctx.sandbox.autostart_path.exists(), 10,
                 "the autostart entry to go")
    items = app.open_tray_menu()
    check("checked" not in items[0]["states"], "Run at Startup still checked")
    ctx.desktop.key("Escape")
    check(app.alive(), "the program ended")


@test
def start_up_entry_of_a_program_started_from_its_launcher(ctx):
    # The installed layout: the launcher starts <prefix>/bin/flowbright in <prefix>/lib/flowbright,
    # where Flowbright.lnk links to it.
    launch_dir = ctx.sandbox.prefix / "lib/flowbright"
    launch_dir.mkdir(parents=True)
    (launch_dir / "Flowbright.lnk").symlink_to("../../bin/flowbright")
    app = ctx.start(cwd=launch_dir)
    app.choose_tray_command("Run at Startup")
    h.wait_until(ctx.sandbox.autostart_path.exists, 10, "the autostart entry")
    argv = h.split_exec(h.parse_desktop_entry(ctx.sandbox.autostart_path).get("Exec", ""))
    check(argv == [f"{launch_dir}/Flowbright.lnk", "-tray"], f"Exec arguments {argv}")
    check(os.path.realpath(argv[0]) == os.path.realpath(ctx.sandbox.program),
          "the start-up entry does not reach the program")
    # What the session does at the next login: the entry starts the program, which shows its
    # window like a plain start.
    app.choose_tray_command("Exit")
    check(app.wait_exit(15) == 0, "exit status of Exit")
    login = h.Flowbright(ctx.desktop, netns=ctx.netns, cwd=ctx.sandbox.home,
                         name="flowbright-autostart", argv=argv)
    login.wait_main_window()
    check(login.alive(), "the program started by the start-up entry ended")


@test
def web_page_commands_open_through_xdg_open(ctx):
    # An installed layout: <prefix>/bin/flowbright and <prefix>/share/doc/flowbright/help.html.
    help_page = ctx.sandbox.prefix / "share/doc/flowbright/help.html"
    help_page.parent.mkdir(parents=True)
    help_page.write_text((h.REPO / "docs/help.html").read_text(encoding="utf-8"))
    app = ctx.start()
    app.choose_tray_command("Concerned About SAFETY?")
    opened = h.wait_until(lambda: ctx.sandbox.records("xdg-open"), 10, "xdg-open")
    check(len(opened[0]["argv"]) == 1, f"xdg-open arguments {opened[0]['argv']}")
    check(opened[0]["argv"][0].startswith(("http://", "https://")),
          f"the page is not a web address: {opened[0]['argv'][0]}")
    app.choose_tray_command("Help")
    h.wait_until(lambda: len(ctx.sandbox.records("xdg-open")) == 2, 10, "xdg-open for Help")
    page = ctx.sandbox.records("xdg-open")[1]["argv"]
    check(page == [help_page.resolve().as_uri()], f"Help opened {page}")
    check(not ctx.sandbox.records("wine"), "a web page went to wine")
    check(app.alive(), "the program ended")


@test
def exit_from_the_tray_menu_while_hidden_writes_settings(ctx):
    ctx.sandbox.ini_path.write_text(
        "[main]\nidleseconds=15s\n[log]\nmbdelete=0\nlogtype=7\nlogfile=/tmp/x.log\n"
        "[list]\nproto=66\n", encoding="utf-8")
    app = ctx.start()
    ctx.desktop.activate(app.main_window)
    ctx.desktop.key("Escape")
    h.wait_until(lambda: not app.main_window_viewable(), 10, "the window to hide")
    app.choose_tray_command("Exit")
    check(app.wait_exit(15) == 0, "exit status of Exit")
    # Values are clamped; sections that existed keep their place, new ones follow.
    check_ini_written(ctx.sandbox, {"idleseconds": "15", "mbdelete": "1", "logtype": "0",
                                    "logfile": "/tmp/x.log", "proto": "66"},
                      order=["main", "log", "list", "filters", "mainwindow"])


@test
def sigterm_ends_like_exit_and_writes_settings(ctx):
    app = ctx.start()
    check(not ctx.sandbox.ini_path.exists(), "settings file written before the end")
    os.kill(app.pid, signal.SIGTERM)
    check_ended_cleanly(ctx, app, "SIGTERM")


@test
def closing_without_a_notification_area_minimises_and_the_graph_comes_back(ctx):
    seed_emule(ctx.sandbox)
    ctx.sandbox.write_store({"APP_NAME": "Emule", "APP_PATH": EMULE_EXE})
    ctx.start_desktop(tray=False)
    app = ctx.start()
    d = ctx.desktop
    check_graph_moves(d, app.main_window, "after the start")
    d.activate(app.main_window)
    d.key("Escape")
    h.wait_until(lambda: not app.main_window_viewable(), 10, "the window to minimise")
    check(app.alive(), "Escape ended the program")
    state = d.window_property(app.main_window, "_NET_WM_STATE")
    check("_NET_WM_STATE_HIDDEN" in state, f"not minimised to the taskbar: {state}")
    time.sleep(1.0)
    # Back from the taskbar, as the window manager's list or a task bar brings it.
    d.activate(app.main_window)
    h.wait_until(app.main_window_viewable, 10, "the window to come back")
    check_graph_moves(d, app.main_window, "after the window came back")


@test
def a_notification_area_that_dies_gives_the_window_back(ctx):
    app = ctx.start()
    d = ctx.desktop
    app.tray_icon()
    d.activate(app.main_window)
    d.key("Escape")
    h.wait_until(lambda: not app.main_window_viewable(), 10, "the window to hide")
    killed = time.monotonic()
    d.stop_tray()
    h.wait_until(app.main_window_viewable, max(0.3, 2.0 - (time.monotonic() - killed)),
                 "the window to come back within 2 s of the tray's end")
    check(app.alive(), "the program ended with the tray")
    # A new notification area gets the icon again, and hiding goes through it once more.
    d.start_tray()
    app.tray_icon(timeout=10)
    d.activate(app.main_window)
    d.key("Escape")
    h.wait_until(lambda: not app.main_window_viewable(), 10, "the window to hide again")
    app.double_click_tray()
    h.wait_until(app.main_window_viewable, 10, "the window to come back from the new tray")


@test
def sigterm_while_the_not_found_message_is_open(ctx):
    ctx.sandbox.write_store({"APP_NAME": "Emule", "APP_PATH": EMULE_EXE})
    app = ctx.start(wait=False)
    wait_not_found_message(app)
    os.kill(app.pid, signal.SIGTERM)
    check(app.wait_exit(2) == 0, "exit status after SIGTERM")
    check_ini_written(ctx.sandbox)


@test
def sigterm_while_the_tray_menu_is_open(ctx):
    app = ctx.start()
    app.open_tray_menu()
    os.kill(app.pid, signal.SIGTERM)
    check(app.wait_exit(2) == 0, "exit status after SIGTERM")
    check_ini_written(ctx.sandbox)


@test
def a_store_locked_by_another_process_neither_freezes_nor_loses_the_options(ctx):
    lock = Path(str(ctx.sandbox.store_path) + ".lock")
    lock.parent.mkdir(parents=True, exist_ok=True)

    def hold_lock():
        holder = ctx.processes.start(["flock", str(lock), "sleep", "60"], ctx.sandbox.env())
        h.wait_until(lambda: h.run(["flock", "-n", str(lock), "true"],
                                   check_rc=False).returncode != 0, 10, "the lock to be held")
        return holder

    def hide(app):
        ctx.desktop.activate(app.main_window)
        ctx.desktop.key("Escape")
        h.wait_until(lambda: not app.main_window_viewable(), 10, "the window to hide")

    def terminate(app):
        os.kill(app.pid, signal.SIGTERM)
        check(app.wait_exit(2) == 0, "exit status after SIGTERM")

    # Held all through the run: the program still hides and ends promptly, and says that its
    # options could not be saved.
    holder = hold_lock()
    app = ctx.start()
    hide(app)
    check(app.alive(), "Escape ended the program")
    terminate(app)
    check(ctx.sandbox.store_value("CheckPeriodNum") is None, "the store was written under a lock")
    log = app.log_path.read_text(errors="replace")
    check("registry.reg is locked by another process" in log, "no word of the lock:\n" + log)
    check("unsaved change(s) are lost" in log, "no word of the lost options:\n" + log)
    ctx.processes.end(holder)

    # Released while the program runs: the options kept in memory reach the store by the end.
    holder = hold_lock()
    app = ctx.start()
    hide(app)
    check(ctx.sandbox.store_value("CheckPeriodNum") is None, "the store was written under a lock")
    ctx.processes.end(holder)
    terminate(app)
    check(ctx.sandbox.store_value("CheckPeriodNum") == ("dword", 12), "CheckPeriodNum lost")
    check(ctx.sandbox.store_value("AccelerateN") == ("dword", 7), "AccelerateN lost")


@test
def hive_values_that_are_no_windows_paths_start_nothing(ctx):
    # Any Windows program under Wine can write the prefix's hives; what they name natively is
    # neither listed nor started.
    native = ctx.sandbox.root / "native" / "client"
    native.parent.mkdir()
    shutil.copyfile(Path(__file__).resolve().parent / "recorder.py", native)
    native.chmod(0o755)
    seed_emule(ctx.sandbox)
    ctx.sandbox.write_wine_user_reg({
        "Software\\eMule": {"Install Path": EMULE_DIR},
        "Software\\Flowbright": {"APP_NAME": "Emule", "APP_PATH": str(native)},
    })
    (ctx.sandbox.wineprefix / "system.reg").write_text(h.registry_text({
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Warez":
            {"DisplayIcon": str(native)},
    }), encoding="utf-8")
    app = ctx.start()
    nodes = app.tree()
    client, rows = app.combo_state(0)
    check(rows == ["Select application to run", "Emule"], f"client rows {rows}")
    check(client == "Emule", f"client combo shows {client!r}")
    app.click_node(button(app, "Run", nodes))
    time.sleep(3.0)
    started = [r["name"] for r in ctx.sandbox.records() if r["name"] != "UpdateApp.exe"]
    check(not started, f"Run started {started}")


CONVERT = "/usr/bin/convert"
ICON_22 = Path(__file__).resolve().parent.parent.parent / "res" / "icons" / "flowbright-22.png"


def rgb_pixels(argv):
    """The pixels an ImageMagick `convert` command line writes, as a list of (r, g, b)."""
    result = subprocess.run([CONVERT] + argv + ["-depth", "8", "rgb:-"], capture_output=True,
                            timeout=30)
    check(result.returncode == 0, f"convert failed: {result.stderr.decode(errors='replace')}")
    data = result.stdout
    return [tuple(data[i:i + 3]) for i in range(0, len(data) - 2, 3)]


def colour_distance(a, b):
    return max(abs(x - y) for x, y in zip(a, b))


@test
def the_tray_icon_shows_the_program_icon(ctx):
    app = ctx.start()
    x, y, w, hh = app.tray_icon()
    time.sleep(1.0)  # the icon's first paint after it is embedded
    shot = ctx.desktop.logs / "tray-icon.png"
    ctx.desktop.x([h.IMPORT, "-window", "root", "-crop", f"{w}x{hh}+{x}+{y}", "+repage",
                   str(shot)], timeout=30)
    pixels = rgb_pixels([str(shot)])
    check(len(pixels) == w * hh, f"the tray shot has {len(pixels)} pixels, not {w}x{hh}")
    # The tray's own ground: the commonest colour on the rim of the icon's slot.
    rim = [pixels[r * w + c] for r in range(hh) for c in range(w)
           if r in (0, hh - 1) or c in (0, w - 1)]
    ground = max(set(rim), key=rim.count)
    size = 22
    check(w >= size and hh >= size, f"the icon's slot is {w}x{hh}")
    hexed = "#%02x%02x%02x" % ground
    icon = rgb_pixels(["-background", hexed, str(ICON_22), "-flatten"])
    drawn = sum(colour_distance(p, ground) > 40 for p in icon)
    check(drawn > len(icon) // 4, "the reference icon hardly differs from the tray's ground")
    # The slot shows the icon, somewhere in it: the best placement matches it closely.
    best = None
    for dy in range(hh - size + 1):
        for dx in range(w - size + 1):
            total = sum(colour_distance(pixels[(dy + r) * w + dx + c], icon[r * size + c])
                        for r in range(size) for c in range(size))
            best = total if best is None else min(best, total)
    mean = best / (size * size)
    blank = sum(colour_distance(p, ground) for p in icon) / (size * size)
    check(mean < 16, f"the tray shows no icon: the best match is off by {mean:.1f} per pixel "
          f"(a blank slot would be {blank:.1f}); see {shot.name}")


@test
def screen_readers_find_values_captions_and_the_graph(ctx):
    seed_emule(ctx.sandbox)
    ctx.sandbox.write_store({"APP_NAME": "Emule", "APP_PATH": EMULE_EXE})
    app = ctx.start()
    time.sleep(2.5)  # a few samples and statistics updates
    nodes = app.tree()
    # The kind of connection stays empty until the machine is first seen connected (never in
    # a network namespace of the test's own); an empty value is read by its caption.
    patterns = {
        "Type": r"^(( LAN | Modem | Offline | Proxy )+|Type)$",
        "Status": r"^( Connected|N/A)$",
        "Duration": r"^ +\d+ hrs : +\d+ mins : +\d+ secs$",
        "Bytes Sent": r"^ \d+ $",
        "Bytes Received": r"^ \d+ $",
        "Time spent accelerating": r"^ +\d+ hrs : +\d+ mins : +\d+ secs$",
    }
    for caption, pattern in patterns.items():
        values = [n for n in nodes if n["role"] == "label" and caption in n["labelled_by"]]
        check(len(values) == 1, f"{len(values)} values labelled {caption!r}")
        check(re.match(pattern, values[0]["name"]),
              f"the value labelled {caption!r} is read as {values[0]['name']!r}")
    labels = [n["name"] for n in nodes if n["role"] == "label"]
    check("DurationAcc" not in labels, "the accelerating time is read as 'DurationAcc'")
    scale = {n["description"]: n["name"] for n in nodes if n["role"] == "label"
             and n["description"].endswith("of the graph's scale")}
    check(scale.get("Top of the graph's scale") == "1.0%" and
          scale.get("Middle of the graph's scale") == "0.5%" and
          scale.get("Bottom of the graph's scale") == "0%", f"the scale is read as {scale}")
    client, adapter = app.combos(nodes)
    check(client["extents"][1] < adapter["extents"][1], "the combos' captions are swapped")
    graph = h.find_node(nodes, role="chart", name="Traffic graph", showing=True)
    check(graph is not None, "no chart named 'Traffic graph'")
    check("Received" in graph["description"] and "sent" in graph["description"] and
          "1.0%" in graph["description"], f"the graph is described as {graph['description']!r}")


def window_menu_items(app, keys):
    """Presses `keys` in the main window; returns the names of the menu's items once one takes
    the focus (the menu that opens from the keyboard highlights its first item)."""
    app._menu_monitor()
    app._monitor_lines(0)
    app.desktop.activate(app.main_window)
    app.desktop.key(*keys)
    lines = app._monitor_lines(3.0)
    check(lines, f"{'+'.join(keys)} opened no menu")
    return [n["name"] for n in lines[-1]["items"] if n["role"] != "separator"]


@test
def shift_f10_and_the_menu_key_open_the_window_menu(ctx):
    app = ctx.start()
    for keys in (["shift+F10"], ["Menu"]):
        items = window_menu_items(app, keys)
        check(items[0] == "Minimize" and items[-1] == "About Flowbright...",
              f"{'+'.join(keys)} opened {items}")
        ctx.desktop.key("Escape")  # closes the menu and nothing else
        time.sleep(0.5)
        check(app.main_window_viewable(), "Escape in the window menu hid the window")
    # From the menu, the keyboard reaches its commands: Up wraps to About.
    window_menu_items(app, ["shift+F10"])
    ctx.desktop.key("Up", "Return")
    h.wait_until(lambda: [w for w in app.desktop.visible_windows("^Flowbright$")
                          if w != app.main_window], 10, "the About dialog")


@test
def return_on_the_focused_run_button_starts_the_client(ctx):
    seed_emule(ctx.sandbox)
    ctx.sandbox.write_store({"APP_NAME": "Emule", "APP_PATH": EMULE_EXE})
    app = ctx.start()
    d = ctx.desktop
    d.activate(app.main_window)
    # The focus starts in the client list, where Return starts nothing.
    d.key("Return")
    time.sleep(1.0)
    check(not ctx.sandbox.records("wine"), "Return in the client list started the client")
    check(app.main_window_viewable(), "Return in the client list hid the window")
    d.key("Tab")
    h.wait_until(lambda: "focused" in button(app, "Run")["states"], 10, "the focus on Run")
    d.key("Return")
    runs = h.wait_until(lambda: ctx.sandbox.records("wine"), 10, "the client to start via wine")
    check(runs[0]["argv"] == [EMULE_EXE], f"wine arguments {runs[0]['argv']}")
    time.sleep(0.5)
    check(len(ctx.sandbox.records("wine")) == 1, "Return started the client more than once")
    # Esc still hides the window with the focus on a button.
    d.key("Escape")
    h.wait_until(lambda: not app.main_window_viewable(), 10, "Escape to hide the window")
    check(app.alive(), "Escape ended the program")


# ---- runner -----------------------------------------------------------------------------------

def _alarm(signum, frame):
    raise h.TestFailure(f"time limit of {TEST_TIME_LIMIT} s exceeded")


def missing_tools():
    tools = ["Xvfb", "openbox", "trayer", "xdotool", "xprop", "xwininfo", "xdpyinfo",
             "dbus-daemon", h.IMPORT, h.IDENTIFY]
    missing = [t for t in tools if not (os.path.exists(t) if t.startswith("/") else
                                        shutil.which(t))]
    if not os.path.exists("/usr/libexec/at-spi-bus-launcher"):
        missing.append("at-spi2-core")
    probe = h.run([h.SYSTEM_PYTHON, "-c", "import gi; gi.require_version('Atspi', '2.0'); "
                   "from gi.repository import Atspi"], check_rc=False)
    if probe.returncode != 0:
        missing.append("python3-pyatspi")
    return missing


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--artifacts", default=None)
    parser.add_argument("-k", dest="pattern", default=None)
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()

    selected = [t for t in TESTS if not args.pattern or args.pattern in t.__name__]
    if args.list:
        for t in selected:
            print(t.__name__)
        return 0
    program = Path(args.program).resolve()
    artifacts = Path(args.artifacts or program.parent / "e2e-artifacts").resolve()
    passed = failed = skipped = 0
    missing = missing_tools()
    if not program.is_file() or missing:
        reason = f"program {program} not built" if not program.is_file() else \
            "missing: " + ", ".join(missing)
        print(f"e2e: cannot run: {reason}")
        print(f"0 passed, {len(selected)} failed")
        return 1
    signal.signal(signal.SIGALRM, _alarm)
    user = h.program_user()
    print(f"e2e: {len(selected)} tests; program {program}; artifacts in {artifacts}"
          + (f"; as root: the program runs as {user.pw_name}, without CAP_NET_RAW unless a "
             "test grants it" if user else "; not root: no network namespace"))
    for function in selected:
        name = function.__name__
        start = time.monotonic()
        ctx = None
        outcome, detail = "PASS", ""
        signal.alarm(TEST_TIME_LIMIT)
        try:
            ctx = Context(program, artifacts, name)
            function(ctx)
        except h.TestSkipped as reason:
            outcome, detail = "SKIP", str(reason)
        except h.TestFailure as error:
            outcome, detail = "FAIL", str(error)
        except Exception:
            outcome, detail = "FAIL", traceback.format_exc()
        finally:
            signal.alarm(0)
            if ctx is not None:
                try:
                    ctx.close()
                except Exception:
                    outcome, detail = "FAIL", detail + "\ncleanup: " + traceback.format_exc()
        took = time.monotonic() - start
        print(f"[{outcome}] {name} ({took:.1f} s)" + (f": {detail}" if detail else ""),
              flush=True)
        if outcome == "PASS":
            passed += 1
        elif outcome == "SKIP":
            skipped += 1
        else:
            failed += 1
    print(f"{passed} passed, {failed} failed" + (f", {skipped} skipped" if skipped else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
