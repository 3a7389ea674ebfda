#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Prints the accessibility tree of one running application as JSON.

Run with the session bus of the desktop under test in DBUS_SESSION_BUS_ADDRESS:

    atspi_probe.py tree PID [MAX_NODES]
    atspi_probe.py monitor PID

"tree" prints {"found": bool, "nodes": [...]}, where each node is
{"path": [i, j, ...], "role": str, "name": str, "description": str, "states": [str],
 "extents": [x, y, w, h] (screen coordinates) or null, "text": str or null,
 "actions": [str], "labelled_by": [names of the objects that label it]}. Nodes come in
depth-first order.

Pop-up menus are not children of the application in the tree, so "monitor" follows the focus
instead: after it prints "ready" on stderr it writes one line
{"focused": name, "menu": node, "items": [nodes]} each time an item of a pop-up menu of the
application takes the focus (the harness opens the menu and presses Down), until it is ended.
One monitor serves a whole run of the program: a listener that goes away can leave the
application's bridge sending nothing to the next one. Only the standard library and
the Debian package python3-pyatspi are used; the harness starts this script in a process of
its own so that each test's desktop (its own bus) is read by a fresh connection.
"""

import json
import os
import sys

import warnings

import gi

warnings.simplefilter("ignore", DeprecationWarning)

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def node_of(accessible, path):
    node = {"path": path, "role": "", "name": "", "description": "", "states": [],
            "extents": None, "text": None, "actions": [], "labelled_by": []}
    try:
        node["role"] = accessible.get_role_name() or ""
        node["name"] = accessible.get_name() or ""
        node["description"] = accessible.get_description() or ""
        states = accessible.get_state_set()
        node["states"] = sorted(
            Atspi.StateType(s).value_nick for s in states.get_states())
    except Exception:  # an object that vanished while being read
        return node
    try:
        component = accessible.get_component_iface()
        if component is not None:
            rect = component.get_extents(Atspi.CoordType.SCREEN)
            node["extents"] = [rect.x, rect.y, rect.width, rect.height]
    except Exception:
        pass
    try:
        text = accessible.get_text_iface()
        if text is not None:
            node["text"] = text.get_text(0, text.get_character_count())
    except Exception:
        pass
    try:
        for relation in accessible.get_relation_set():
            if relation.get_relation_type() == Atspi.RelationType.LABELLED_BY:
                for index in range(relation.get_n_targets()):
                    target = relation.get_target(index)
                    if target is not None:
                        node["labelled_by"].append(target.get_name() or "")
    except Exception:
        pass
    try:
        action = accessible.get_action_iface()
        if action is not None:
            node["actions"] = [action.get_action_name(i) for i in range(action.get_n_actions())]
    except Exception:
        pass
    return node


def walk(accessible, path, out, limit):
    if len(out) >= limit:
        return
    out.append(node_of(accessible, path))
    try:
        count = accessible.get_child_count()
    except Exception:
        return
    for index in range(min(count, 500)):
        try:
            child = accessible.get_child_at_index(index)
        except Exception:
            continue
        if child is not None:
            walk(child, path + [index], out, limit)


def monitor_menus(pid):
    """Writes one JSON line for each item of a pop-up menu of `pid` that takes the focus."""
    menu_roles = ("popup menu", "menu")

    def on_event(event):
        try:
            if event.detail1 != 1:
                return
            source = event.source
            if source is None or source.get_process_id() != pid:
                return
            parent = source.get_parent()
            if parent is None or parent.get_role_name() not in menu_roles:
                return
            line = {"focused": source.get_name() or "", "menu": node_of(parent, []),
                    "items": [node_of(parent.get_child_at_index(i), [i])
                              for i in range(parent.get_child_count())]}
            sys.stdout.write(json.dumps(line) + "\n")
            sys.stdout.flush()
        except Exception as error:
            if os.environ.get("FB_E2E_DEBUG"):
                sys.stderr.write(f"event not read: {error}\n")

    listener = Atspi.EventListener.new(on_event)
    listener.register("object:state-changed:focused")
    sys.stderr.write("ready\n")
    sys.stderr.flush()
    Atspi.event_main()


def main():
    mode = sys.argv[1]
    pid = int(sys.argv[2])
    Atspi.init()
    Atspi.set_timeout(2000, 4000)
    if mode == "monitor":
        monitor_menus(pid)
        return
    limit = int(sys.argv[3]) if len(sys.argv) > 3 else 2000
    desktop = Atspi.get_desktop(0)
    result = {"found": False, "nodes": []}
    for index in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(index)
        if app is None:
            continue
        try:
            if app.get_process_id() != pid:
                continue
        except Exception:
            continue
        result["found"] = True
        walk(app, [], result["nodes"], limit)
        break
    json.dump(result, sys.stdout)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
