#!/usr/bin/python3
"""Runs a command on a stand-in desktop: a virtual X display, private system and session buses,
python3-dbusmock's logind and mock ScreenSaver, PowerManagement and GNOME session services (the
same as the end-to-end tests use). Every few seconds it prints the inhibitors logind holds.
Usage: mock-desktop.py command [args...]"""
import os
import signal
import subprocess
import sys
import threading
import time

import dbus
import dbusmock


class Desktop:
    """The stand-in desktop; stop() ends it. logind is the mock's manager interface, mocks the
    desktop services' mock interfaces by bus name."""

    def __init__(self):
        mock = dbusmock.DBusTestCase
        mock.start_system_bus()
        mock.start_session_bus()
        self.logind_process, self.logind_obj = mock.spawn_server_template(
            "logind", {}, stdout=subprocess.DEVNULL)
        self.logind = dbus.Interface(self.logind_obj, "org.freedesktop.login1.Manager")
        self.processes = [self.logind_process]
        self.mocks = {}
        self.services = {}
        self.service_processes = {}
        for name, path, interface, methods in [
            ("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
             "org.freedesktop.ScreenSaver",
             [("Inhibit", "ss", "u", "ret = 11"), ("UnInhibit", "u", "", ""),
              ("SimulateUserActivity", "", "", "")]),
            ("org.freedesktop.PowerManagement", "/org/freedesktop/PowerManagement/Inhibit",
             "org.freedesktop.PowerManagement.Inhibit",
             [("Inhibit", "ss", "u", "ret = 22"), ("UnInhibit", "u", "", "")]),
            ("org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager",
             [("Inhibit", "susu", "u", "ret = 33"), ("Uninhibit", "u", "", "")]),
        ]:
            self.services[name] = (path, interface, methods)
            self.start_service(name)
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp"], stdout=subprocess.PIPE,
                                     start_new_session=True)
        os.environ["DISPLAY"] = ":" + self.xvfb.stdout.readline().decode().strip()

    def start_service(self, name):
        """Starts the mock of a desktop service, or a new one in place of the running one: a
        restart, as when the desktop's service is restarted."""
        path, interface, methods = self.services[name]
        old = self.service_processes.pop(name, None)
        if old is not None:
            old.terminate()
            old.wait()
            self.processes.remove(old)
        self.service_processes[name] = dbusmock.DBusTestCase.spawn_server(
            name, path, interface, system_bus=False, stdout=subprocess.DEVNULL)
        self.processes.append(self.service_processes[name])
        obj = dbus.Interface(dbusmock.DBusTestCase.get_dbus(False).get_object(name, path),
                             dbusmock.MOCK_IFACE)
        for method in methods:
            obj.AddMethod("", *method)
        self.mocks[name] = obj

    def restart_logind(self):
        self.logind_process.terminate()
        self.logind_process.wait()
        self.processes.remove(self.logind_process)
        self.logind_process, self.logind_obj = dbusmock.DBusTestCase.spawn_server_template(
            "logind", {}, stdout=subprocess.DEVNULL)
        self.logind = dbus.Interface(self.logind_obj, "org.freedesktop.login1.Manager")
        self.processes.append(self.logind_process)

    def sleep_signal(self, start):
        self.logind_obj.EmitSignal("org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                                   [start], dbus_interface=dbusmock.MOCK_IFACE)

    def gone(self):
        """The parts of the stand-in desktop that are no longer running."""
        mock = dbusmock.DBusTestCase
        parts = [("Xvfb", self.xvfb.pid), ("the system bus", mock.system_bus_pid),
                 ("the session bus", mock.session_bus_pid), ("logind", self.logind_process.pid)]
        gone = []
        for name, pid in parts:
            try:
                os.kill(pid, 0)
                # A child that ended but was not waited for is a zombie: it counts as gone.
                with open(f"/proc/{pid}/stat", encoding="utf-8") as f:
                    if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                        gone.append(name)
            except (OSError, TypeError):
                gone.append(name)
        return gone

    def stop(self):
        self.xvfb.terminate()
        self.xvfb.wait()
        for p in self.processes:
            p.terminate()
            p.wait()
        dbusmock.DBusTestCase.tearDownClass()


def main():
    # The stand-ins ignore Ctrl-C (they inherit the ignoring); this script ends them in order.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    desktop = Desktop()
    print(f"mock desktop: DISPLAY={os.environ['DISPLAY']}, private buses with logind, "
          "ScreenSaver, PowerManagement and GNOME session mocks", flush=True)
    done = threading.Event()

    def report():
        last = None
        while not done.wait(2):
            locks = [f"{i[0]}/{i[3]} by {i[1]}: {i[2]}" for i in desktop.logind.ListInhibitors()]
            if locks != last:
                print("logind locks: " + ("; ".join(locks) or "none"), flush=True)
                last = locks

    threading.Thread(target=report, daemon=True).start()
    # The command gets a process group of its own, so that Ctrl-C can end all of it with SIGTERM.
    child = subprocess.Popen(sys.argv[1:], start_new_session=True)
    signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        code = child.wait()
    except KeyboardInterrupt:
        os.killpg(child.pid, signal.SIGTERM)
        code = child.wait()
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # the stand-ins end in order, uninterrupted
    try:
        os.killpg(child.pid, signal.SIGTERM)  # what the command left behind
    except ProcessLookupError:
        pass
    done.set()
    desktop.stop()
    return code


if __name__ == "__main__":
    sys.exit(main())
