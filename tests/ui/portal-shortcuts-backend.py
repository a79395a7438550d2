#!/usr/bin/env python3
# A stand-in desktop behind the real xdg-desktop-portal (no desktop's side of global shortcuts runs
# headless): binds each id with its preferred trigger unless refused, and records binds and closed
# sessions. Arguments: the bus name and the folder where it writes its .portal file; prints "ready"
# once owned. Control (org.vantle.test.Backend): Answer(as refused, b cancelled) for later binds;
# Activate(s id) -> b in the newest session holding it; State() -> (binds as
# "<session> <id>=<trigger>,...", closed sessions).
import sys
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IMPL = "org.freedesktop.impl.portal.GlobalShortcuts"
CONTROL = "org.vantle.test.Backend"


class Backend(dbus.service.FallbackObject):  # also the sessions' objects below its path
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.sessions = {}  # path -> the ids bound there, in creation order
        self.refused = set()
        self.cancel = False
        self.binds = []
        self.closed = []

    @dbus.service.method("org.freedesktop.impl.portal.Session", in_signature="", out_signature="",
                         rel_path_keyword="path")
    def Close(self, path):
        path = "/org/freedesktop/portal/desktop" + path
        if self.sessions.pop(path, None) is not None:
            self.closed.append(path)

    @dbus.service.method(IMPL, in_signature="oosa{sv}", out_signature="ua{sv}")
    def CreateSession(self, handle, session_handle, app_id, options):
        self.sessions[str(session_handle)] = []
        return dbus.UInt32(0), dbus.Dictionary({"session_id": str(session_handle)}, signature="sv")

    @dbus.service.method(IMPL, in_signature="ooa(sa{sv})sa{sv}", out_signature="ua{sv}")
    def BindShortcuts(self, handle, session_handle, shortcuts, parent_window, options):
        session = self.sessions.get(str(session_handle))
        if session is None or self.cancel:
            return dbus.UInt32(2 if session is None else 1), dbus.Dictionary({}, signature="sv")
        self.binds.append(str(session_handle) + " " + ",".join(
            "%s=%s" % (sid, props.get("preferred_trigger", "")) for sid, props in shortcuts))
        granted = [(str(sid), props) for sid, props in shortcuts if str(sid) not in self.refused]
        session.extend(sid for sid, _ in granted)
        answer = [dbus.Struct((sid, dbus.Dictionary({"trigger_description": "Press %s" % props.get(
            "preferred_trigger", "")}, signature="sv"))) for sid, props in granted]
        return dbus.UInt32(0), dbus.Dictionary(
            {"shortcuts": dbus.Array(answer, signature="(sa{sv})")}, signature="sv")

    @dbus.service.signal(IMPL, signature="osta{sv}")
    def Activated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @dbus.service.method(CONTROL, in_signature="asb", out_signature="")
    def Answer(self, refused, cancel):
        self.refused = set(str(sid) for sid in refused)
        self.cancel = bool(cancel)

    @dbus.service.method(CONTROL, in_signature="s", out_signature="b")
    def Activate(self, sid):
        for path, session in reversed(list(self.sessions.items())):
            if str(sid) in session:
                self.Activated(dbus.ObjectPath(path), sid, dbus.UInt64(int(time.time() * 1e6)),
                               dbus.Dictionary({}, signature="sv"))
                return True
        return False

    @dbus.service.method(CONTROL, in_signature="", out_signature="asas")
    def State(self):
        return dbus.Array(self.binds, signature="s"), dbus.Array(self.closed, signature="s")


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
backend = Backend(bus)
name = dbus.service.BusName(sys.argv[1], bus, do_not_queue=True)
with open(sys.argv[2] + "/vantletest.portal", "w") as portal:
    portal.write("[portal]\nDBusName=%s\nInterfaces=%s;\nUseIn=vantletest\n" % (sys.argv[1], IMPL))
print("ready", flush=True)
GLib.MainLoop().run()
