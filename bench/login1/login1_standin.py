#!/usr/bin/python3
"""A stand-in for logind's inhibitor locks on a private bus.

usage: login1_standin.py BUS_ADDRESS LOG [refuse-lid | refuse-all | outside-session]

Owns org.freedesktop.login1 and answers Manager.Inhibit with one end of a pipe; logs
"ready", "inhibit WHAT|WHO|WHY|MODE" and, when the caller closes its end,
"release WHAT", one line each, written out at once.
"""
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

address, log_path = sys.argv[1], sys.argv[2]
refuse = sys.argv[3] if len(sys.argv) > 3 else ""
log = open(log_path, "a", buffering=1)


class Manager(dbus.service.Object):
    @dbus.service.method("org.freedesktop.login1.Manager", in_signature="ssss",
                         out_signature="h")
    def Inhibit(self, what, who, why, mode):
        log.write(f"inhibit {what}|{who}|{why}|{mode}\n")
        # outside-session: what logind and Debian's polkit grant a user in no session: an idle
        # block and a sleep or shutdown delay, each alone (logind checks a lock on several
        # things as a lid-switch lock, which only a session may take).
        outside = refuse == "outside-session" and not (
            (what == "idle" and mode == "block") or (what in ("sleep", "shutdown") and mode == "delay"))
        if (refuse == "refuse-all" or (refuse == "refuse-lid" and what == "handle-lid-switch")
                or outside):
            raise dbus.exceptions.DBusException("Access denied",
                                                name="org.freedesktop.DBus.Error.AccessDenied")
        ours, theirs = os.pipe()

        def released(fd, condition):
            log.write(f"release {what}|{mode}\n")
            os.close(fd)
            return False

        GLib.io_add_watch(ours, GLib.IO_HUP | GLib.IO_ERR, released)
        handed = dbus.types.UnixFd(theirs)
        os.close(theirs)
        return handed


DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(address)
name = dbus.service.BusName("org.freedesktop.login1", bus)
Manager(bus, "/org/freedesktop/login1")
log.write("ready\n")
GLib.MainLoop().run()
