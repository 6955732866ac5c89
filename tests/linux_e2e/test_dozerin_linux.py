#!/usr/bin/python3
"""End-to-end tests of the native Linux dozerin, with no root and no desktop: private system and
session buses carrying mock logind, ScreenSaver, PowerManagement and GNOME session services, and
a virtual X display. The program runs from a scratch folder with its INI file beside it."""
import os
import pathlib
import re
import runpy
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

import dbus
import dbusmock

DOZERIN = os.environ["DOZERIN_EXE"]
Desktop = runpy.run_path(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                      "../../tools/mock-desktop.py"))["Desktop"]
LOGIND = "org.freedesktop.login1"


def wait_until(condition, timeout=10.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.1)
    return condition()


class DozerinLinux(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # The stand-in desktop of tools/run-dozerin: private buses, mock services, Xvfb.
        cls.stand_in = Desktop()
        cls.display = os.environ["DISPLAY"]

    @classmethod
    def tearDownClass(cls):
        cls.stand_in.stop()

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="dozerin-e2e-")
        self.exe = os.path.join(self.folder, "dozerin")
        shutil.copy(DOZERIN, self.exe)
        self.log = os.path.join(self.folder, "dozerin.log")
        self.env = dict(os.environ, DISPLAY=self.display, XDG_RUNTIME_DIR=self.folder,
                        QT_QPA_PLATFORM="xcb", LANG="C.UTF-8")
        self.children = []
        for mock in self.stand_in.mocks.values():
            mock.ClearCalls()

    def tearDown(self):
        for child in self.children:
            if child.poll() is None:
                child.kill()
                child.wait()
        shutil.rmtree(self.folder, ignore_errors=True)

    # Helpers.
    def start(self, ini, args=(), program=None, **env):
        with open(os.path.join(self.folder, "dozerin.ini"), "w", encoding="utf-8") as f:
            f.write(ini)
        p = subprocess.Popen([program or self.exe, *args], env=dict(self.env, **env),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.children.append(p)
        self.assertTrue(wait_until(lambda: "Start WorkThread!!" in self.lines()), "no start")
        return p

    def spawn(self, args):
        p = subprocess.Popen(args, env=self.env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        self.children.append(p)
        return p

    def lines(self):
        try:
            with open(self.log, encoding="utf-8") as f:
                return [line.rstrip("\n").split(" - ", 1)[1] for line in f if " - " in line]
        except FileNotFoundError:
            return []

    def wait_line(self, line, count=1, timeout=10.0):
        self.assertTrue(wait_until(lambda: self.lines().count(line) >= count, timeout),
                        f"no {line!r} in {self.lines()[-8:]}")

    def locks(self, what="idle", why=False):
        manager = dbus.Interface(self.stand_in.logind_obj, "org.freedesktop.login1.Manager")
        return [(str(i[0]), str(i[3])) + ((str(i[2]),) if why else ())
                for i in manager.ListInhibitors()
                if str(i[1]) == "Dozerin" and str(i[0]) == what]

    def calls(self, service, method):
        return [c for c in self.stand_in.mocks[service].GetCalls() if c[1] == method]

    def window_tree(self):
        return subprocess.run(["xwininfo", "-root", "-tree"], env=self.env, capture_output=True,
                              text=True, check=False).stdout

    def docked_icon(self):
        """The middle of the program's icon once it sits inside trayer's 60x32 panel."""
        boxes = re.findall(r'\("dozerin" "dozerin"\)\s+(\d+)x(\d+)\S*\s+\+(-?\d+)\+(-?\d+)',
                           self.window_tree())
        return next(((x + w // 2, y + h // 2) for w, h, x, y in (map(int, b) for b in boxes)
                     if w > 1 and 0 <= x < 60 and 0 <= y < 32), None)

    def stop(self, p):
        p.send_signal(signal.SIGTERM)
        self.assertEqual(p.wait(timeout=15), 0)
        self.assertEqual(self.lines()[-1], "Finish WorkThread!!")
        self.assertEqual(self.locks("idle") + self.locks("sleep"), [])

    # Tests.
    def test_watched_process_holds_every_inhibitor_until_it_ends(self):
        watched = os.path.join(self.folder, "dozerin-watched")
        shutil.copy("/bin/sleep", watched)
        p = self.start("[GENERAL]\nLog=1\nMaxMargin=2\nBusyDisplay=1\n[PROCESS]\n0=Dozerin-Watched\n")
        self.assertEqual(self.locks(), [])
        helper = self.spawn([watched, "60"])
        self.wait_line("Event KIND_PROCESS")
        self.assertTrue(wait_until(
            lambda: self.locks(why=True) == [("idle", "block", "process dozerin-watched")]))
        self.assertTrue(self.calls("org.freedesktop.ScreenSaver", "Inhibit"))
        self.assertTrue(self.calls("org.freedesktop.PowerManagement", "Inhibit"))
        gnome = self.calls("org.gnome.SessionManager", "Inhibit")
        self.assertEqual(int(gnome[0][2][3]), 4 | 8)  # suspend, and idle for the display
        helper.kill()
        helper.wait()
        # The margin follows, then every lock goes.
        self.assertTrue(wait_until(lambda: self.locks() == [], timeout=8))
        self.assertTrue(wait_until(
            lambda: self.calls("org.freedesktop.ScreenSaver", "UnInhibit")
            and self.calls("org.freedesktop.PowerManagement", "UnInhibit")
            and self.calls("org.gnome.SessionManager", "Uninhibit")))
        self.stop(p)

    def test_locks_come_back_after_a_failure_and_from_restarted_services(self):
        saver, power = "org.freedesktop.ScreenSaver", "org.freedesktop.PowerManagement"
        self.stand_in.mocks[saver].AddMethod("", "Inhibit", "ss", "u", "raise dbus.exceptions."
                                             "DBusException('not now', name='org.x.Failed')")
        watched = os.path.join(self.folder, "dozerin-watched")
        shutil.copy("/bin/sleep", watched)
        p = self.start("[GENERAL]\nLog=1\nBusyDisplay=1\n[PROCESS]\n0=dozerin-watched\n")
        self.spawn([watched, "60"])
        self.wait_line(f"Inhibit failed: {saver}: not now")
        # Tried again after a back-off, and logged only once.
        self.stand_in.mocks[saver].AddMethod("", "Inhibit", "ss", "u", "ret = 11")
        self.stand_in.mocks[saver].ClearCalls()
        self.assertTrue(wait_until(lambda: self.calls(saver, "Inhibit"), timeout=15))
        self.assertEqual(self.lines().count(f"Inhibit failed: {saver}: not now"), 1)
        # A restarted logind and desktop service get the locks that should be held again, and
        # the new service is not sent the old cookie.
        self.stand_in.restart_logind()
        self.assertTrue(wait_until(lambda: self.locks() == [("idle", "block")]
                                   and self.locks("sleep") == [("sleep", "delay")]))
        self.stand_in.start_service(power)
        self.assertTrue(wait_until(lambda: self.calls(power, "Inhibit")))
        # A new reason: the new lock is taken, then the old one given back (the only UnInhibit the
        # new service sees); logind lists only it.
        dbus.SessionBus().get_object("org.dozerin.Dozerin", "/org/dozerin/Dozerin").KeepAwake(
            dbus.Int64(0), dbus_interface="org.dozerin.Dozerin")
        self.assertTrue(wait_until(
            lambda: self.locks(why=True) == [("idle", "block", "kept awake by hand")]))
        self.assertTrue(wait_until(lambda: len(self.calls(power, "UnInhibit")) == 1))
        self.stop(p)

    def test_window_and_mouse(self):
        p = self.start("[GENERAL]\nLog=1\nMouseCap=1\nMaxMargin=3\n[WINDOW]\n0=*watch me*\n")
        xmessage = self.spawn(["xmessage", "-title", "Please Watch Me", "hello"])
        self.wait_line("Event KIND_WINDOW")
        self.assertTrue(wait_until(
            lambda: self.locks(why=True) == [("idle", "block", "window *watch me*")]))
        # A title that changes, twice within a pass and back: read again from its events.
        for title in ["Elsewhere", "Please Watch Me Again", "Nothing"]:
            subprocess.run(["xdotool", "search", "--name", "Watch Me|Elsewhere", "set_window",
                            "--name", title], env=self.env, check=True)
        self.assertTrue(wait_until(lambda: self.locks() == [], timeout=8))
        subprocess.run(["xdotool", "search", "--name", "Nothing", "set_window", "--name",
                        "Watch Me"], env=self.env, check=True)
        self.assertTrue(wait_until(lambda: self.locks() != []))
        xmessage.kill()
        xmessage.wait()
        self.assertTrue(wait_until(lambda: self.locks() == [], timeout=8))
        subprocess.run(["xdotool", "mousemove", "100", "100"], env=self.env, check=True)
        time.sleep(1.5)
        subprocess.run(["xdotool", "mousemove", "125", "100"], env=self.env, check=True)
        self.wait_line("Event KIND_MOUSE")
        self.assertTrue(wait_until(lambda: self.locks() == [("idle", "block")]))
        self.stop(p)

    def test_a_client_inside_a_window_managers_frame(self):
        # twm keeps no client list and puts each client in an untitled frame.
        with open(os.path.join(self.folder, "twmrc"), "w") as f:
            f.write("RandomPlacement\nNoGrabServer\n")
        def twm():
            self.children.append(subprocess.Popen(
                ["twm", "-f", os.path.join(self.folder, "twmrc")], env=dict(self.env, LANG="C"),
                stderr=subprocess.DEVNULL))
            return self.children[-1]
        framed = lambda: re.search(r'\n {8}\S+ "Please Watch Me"', self.window_tree())
        wm = twm()
        xmessage = self.spawn(["xmessage", "-title", "Please Watch Me", "hello"])
        # The first flow of the run: a cold twm on a busy machine takes a while.
        self.assertTrue(wait_until(framed, timeout=30), "no frame:\n" + self.window_tree())
        p = self.start("[GENERAL]\nLog=1\n[WINDOW]\n0=*watch me*\n")
        self.wait_line("Event KIND_WINDOW")
        # The window manager restarts: the client goes back to the root, then into a new frame.
        wm.terminate()
        wm.wait()
        wm = twm()
        self.assertTrue(wait_until(framed, timeout=30), "no new frame:\n" + self.window_tree())
        count = self.lines().count("Event KIND_WINDOW")
        self.wait_line("Event KIND_WINDOW", count + 2)
        xmessage.kill()
        self.assertTrue(wait_until(lambda: self.locks() == [], timeout=8))
        self.stop(p)
        # On a Wayland session the log says what XWayland's display cannot show.
        os.remove(self.log)
        self.stop(self.start("[GENERAL]\nLog=1\n", XDG_SESSION_TYPE="wayland"))
        self.assertIn("On this Wayland session only X11 (XWayland) windows, and the mouse over "
                      "them, can be watched.", self.lines())

    def test_battery_rules(self):
        power = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "fake_battery.py")],
            env=dict(self.env, LD_PRELOAD="libumockdev-preload.so.0"), stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, text=True)
        self.children.append(power)
        self.assertEqual(power.stdout.readline(), "ready\n")

        def supply(command):
            power.stdin.write(command + "\n")
            power.stdin.flush()
            self.assertEqual(power.stdout.readline(), "done\n", command)

        def status():
            return subprocess.run([self.exe, "--status"], env=self.env, timeout=20,
                                  capture_output=True, text=True, check=False).stdout.strip()
        watched = os.path.join(self.folder, "dozerin-watched")
        shutil.copy("/bin/sleep", watched)
        self.spawn([watched, "60"])
        p = self.start("[GENERAL]\nLog=1\nMaxMargin=1\nBatteryHold=0\nBatteryFloor=20\n"
                       "[PROCESS]\n0=dozerin-watched\n")
        by_process, by_hand = [("idle", "block", "process dozerin-watched")], [
            ("idle", "block", "kept awake by hand")]
        # On battery only a hold by hand keeps the machine awake, and at the floor not even that;
        # mains power brings back what holds.
        flow = [("battery 50", "Battery hold off", [],
                 "idle: on battery (only a hold by hand keeps the machine awake)"),
                ("mains", "Battery hold on", by_process, "busy: process dozerin-watched"),
                ("hand", None, by_hand, "busy: kept awake by hand"),
                ("battery 50", "Battery hold off", by_hand, "busy: kept awake by hand"),
                ("battery 10", None, [], "idle: on battery at 10 % (keeping awake stops at 20 %)"),
                ("mains", "Battery hold on", by_hand, "busy: kept awake by hand")]
        for command, line, locks, said in flow:
            count = self.lines().count(line)
            if command == "hand":
                subprocess.run([self.exe, "--keep-awake"], env=self.env, timeout=20, check=True)
            else:
                supply(command)
            if line:
                self.wait_line(line, count + 1)
            self.assertTrue(wait_until(lambda: self.locks(why=True) == locks),
                            f"{command}: {self.locks(why=True)}")
            self.assertTrue(wait_until(lambda: status() == said), f"{command}: {status()}")
        # Below the floor, UPower goes: a power source not known counts as mains.
        supply("battery 10")
        self.assertTrue(wait_until(lambda: self.locks() == []), self.locks(why=True))
        power.stdin.close()
        self.assertEqual(power.wait(timeout=30), 0)
        self.assertTrue(wait_until(lambda: self.locks(why=True) == by_hand), self.locks(why=True))
        subprocess.run([self.exe, "--keep-awake=off"], env=self.env, timeout=20, check=True)
        self.stop(p)

    def test_sleep_and_resume(self):
        p = self.start("[GENERAL]\nLog=1\nMaxMargin=5\nSetMarginOnWakeup=1\n"
                       "ResetDisplayOnWakeup=1\n")
        self.assertTrue(wait_until(lambda: self.locks("sleep") == [("sleep", "delay")]))
        self.stand_in.sleep_signal(True)
        self.wait_line("Finish WorkThread!!")
        self.assertTrue(wait_until(lambda: self.locks("sleep") == []), "delay lock kept")
        self.stand_in.sleep_signal(False)
        self.wait_line("Start WorkThread!!", 2)
        self.wait_line("Set STATE_MARGIN")
        self.assertTrue(wait_until(lambda: self.locks("sleep") == [("sleep", "delay")]))
        self.assertTrue(self.calls("org.freedesktop.ScreenSaver", "SimulateUserActivity"))
        self.assertTrue(wait_until(lambda: self.locks() == [("idle", "block")]))
        self.stop(p)

    def test_settings_from_the_tray_ok_restarts_the_worker(self):
        def tray():
            return self.spawn(["trayer", "--edge", "top", "--align", "left", "--widthtype",
                               "pixel", "--width", "60", "--heighttype", "pixel", "--height",
                               "32", "--expand", "false"])
        first = tray()
        self.assertTrue(wait_until(lambda: '("panel" "trayer")' in self.window_tree()), "no tray")
        # A StatusNotifierWatcher with no host shows nothing: the icon docks in the XEmbed tray.
        name, path = "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher"
        watcher = dbusmock.DBusTestCase.spawn_server(name, path, name, system_bus=False,
                                                     stdout=subprocess.DEVNULL)
        self.children.append(watcher)
        mock = dbus.Interface(dbus.SessionBus().get_object(name, path), dbusmock.MOCK_IFACE)
        mock.AddProperty(name, "IsStatusNotifierHostRegistered", False)
        mock.AddMethod(name, "RegisterStatusNotifierItem", "s", "", "")
        p = self.start("[GENERAL]\nLog=1\nMaxMargin=7\n")
        icon = []
        self.assertTrue(wait_until(lambda: icon.append(self.docked_icon()) or icon[-1]),
                        f"the icon did not dock:\n{self.window_tree()}")
        # The tray restarts: the icon docks in the new one, and the double click reaches it.
        first.kill()
        first.wait()
        self.assertTrue(wait_until(lambda: '("panel" "trayer")' not in self.window_tree()))
        tray()
        icon.clear()
        self.assertTrue(wait_until(lambda: icon.append(self.docked_icon()) or icon[-1]),
                        f"the icon did not dock again:\n{self.window_tree()}")
        subprocess.run(["xdotool", "mousemove", str(icon[-1][0]), str(icon[-1][1]), "click",
                        "--repeat", "2", "--delay", "80", "1"], env=self.env, check=True)
        found = []
        self.assertTrue(wait_until(lambda: found.append(subprocess.run(
            ["xdotool", "search", "--name", "^Dozerin$"], env=self.env, capture_output=True,
            text=True).stdout.split()) or found[-1]), "no settings dialog")
        # No window manager here: the dialog gets the focus directly, then OK by its key.
        subprocess.run(["xdotool", "windowfocus", "--sync", found[-1][0]], env=self.env,
                       check=False)
        subprocess.run(["xdotool", "key", "Return"], env=self.env, check=True)
        self.wait_line("Start WorkThread!!", 2)
        self.assertEqual(self.lines()[-2:], ["Finish WorkThread!!", "Start WorkThread!!"])
        with open(os.path.join(self.folder, "dozerin.ini"), encoding="utf-8") as f:
            self.assertIn("MaxMargin=7", f.read())
        self.stop(p)

    def test_keep_awake_by_hand(self):
        # A hold from the command line at start-up: the idle lock for its time, then the margin.
        p = self.start("[GENERAL]\nLog=1\nMaxMargin=2\n", args=["--keep-awake=4s"])
        self.wait_line("Event KIND_MANUAL")
        self.assertTrue(wait_until(
            lambda: self.locks(why=True) == [("idle", "block", "kept awake by hand")]))
        self.assertTrue(wait_until(lambda: self.locks() == [], timeout=10), "lock kept")
        # A bad value is refused on standard error; the running instance does nothing.
        bad = subprocess.run([self.exe, "--keep-awake=soon"], env=self.env, timeout=10,
                             capture_output=True, text=True, check=False)
        self.assertEqual(bad.returncode, 2)
        self.assertIn("'soon' is not a length", bad.stderr)
        # The running instance's methods on the session bus, and a later start that stops it.
        service = dbus.Interface(dbus.SessionBus().get_object("org.dozerin.Dozerin",
                                                              "/org/dozerin/Dozerin"),
                                 "org.dozerin.Dozerin")
        with self.assertRaises(dbus.exceptions.DBusException):
            service.KeepAwake(dbus.Int64(-1))
        self.assertEqual(self.locks(), [])
        service.KeepAwake(dbus.Int64(0))
        self.assertTrue(wait_until(lambda: self.locks() == [("idle", "block")]))
        time.sleep(3)  # no end of its own
        self.assertEqual(self.locks(), [("idle", "block")])
        stop = subprocess.run([self.exe, "--keep-awake=off"], env=self.env, timeout=20,
                              check=False)
        self.assertEqual(stop.returncode, 0)
        self.assertTrue(wait_until(lambda: self.locks() == [], timeout=8), "lock kept")
        self.stop(p)

    def test_a_command_run_under_a_hold(self):
        def run_while(*command):
            return subprocess.Popen([self.exe, "--while", *command], env=self.env,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                    start_new_session=True)

        def lock_for_sleep():
            found = [lock for lock in self.locks(why=True) if "kept awake for sleep" in lock[2]]
            return found[0] if found else None

        link = os.path.join(self.folder, "dz")
        os.symlink(self.exe, link)
        for instance in (True, False):
            # Started through a link, the instance keeps the link's name: it starts only once.
            p = self.start("[GENERAL]\nLog=1\nMaxMargin=1\n", program=link) if instance else None
            if instance:
                self.assertEqual(pathlib.Path(f"/proc/{p.pid}/comm").read_text().strip(), "dz")
            # The exit code passes through; the lock names the command and its pid.
            r = run_while("--", "sleep", "2")
            self.children.append(r)
            self.assertTrue(wait_until(lock_for_sleep), self.locks(why=True))
            pid = int(re.search(r"pid (\d+)", lock_for_sleep()[2]).group(1))
            self.assertEqual(os.readlink(f"/proc/{pid}/exe"), os.path.realpath("/bin/sleep"))
            # The command gets the environment it was given.
            for who in (r.pid, pid):
                environ = pathlib.Path(f"/proc/{who}/environ").read_bytes().split(b"\0")
                self.assertEqual([v for v in environ if v.startswith(b"GLIBC_TUN")], [])
            if instance:
                status = subprocess.run([self.exe, "--status"], env=self.env, timeout=10,
                                        capture_output=True, text=True, check=False)
                self.assertEqual(status.stdout.strip(), f"busy: kept awake for sleep (pid {pid})")
            else:  # the desktop's inhibitors too, as the instance takes them
                self.assertTrue(self.calls("org.gnome.SessionManager", "Inhibit"))
            self.assertEqual(r.wait(timeout=15), 0)
            self.assertTrue(wait_until(lambda: self.locks() == [], timeout=8), "lock kept")
            # Ctrl-C reaches the command, and its end is the requester's: 128 + SIGINT.
            r = run_while("sleep", "30")
            self.children.append(r)
            self.assertTrue(wait_until(lock_for_sleep))
            if instance:
                # A hold by hand beside it is a reason of its own: its stop leaves the command's.
                service = dbus.Interface(dbus.SessionBus().get_object(
                    "org.dozerin.Dozerin", "/org/dozerin/Dozerin"), "org.dozerin.Dozerin")
                service.KeepAwake(dbus.Int64(0))
                self.assertTrue(wait_until(lambda: self.locks(why=True) == [
                    ("idle", "block", "kept awake by hand")]), self.locks(why=True))
                service.Stop()
                self.assertTrue(wait_until(lock_for_sleep), self.locks(why=True))
            os.killpg(r.pid, signal.SIGINT)
            self.assertEqual(r.wait(timeout=15), 130)
            self.assertTrue(wait_until(lambda: self.locks() == [], timeout=8), "lock kept")
            # A requester killed outright ends the hold too; its command runs on.
            r = run_while("sleep", "30")
            self.children.append(r)
            self.assertTrue(wait_until(lock_for_sleep))
            pid = int(re.search(r"pid (\d+)", lock_for_sleep()[2]).group(1))
            r.kill()
            self.assertTrue(wait_until(lambda: self.locks() == [], timeout=8), "lock kept")
            os.kill(pid, signal.SIGKILL)
            if instance:
                # The instance ends while it holds for a command: the asker takes the locks itself.
                r = run_while("sleep", "30")
                self.children.append(r)
                self.assertTrue(wait_until(lock_for_sleep))
                for mock in self.stand_in.mocks.values():
                    mock.ClearCalls()
                p.send_signal(signal.SIGTERM)
                self.assertEqual(p.wait(timeout=15), 0)
                self.assertTrue(wait_until(lambda: self.calls("org.gnome.SessionManager",
                                                              "Inhibit")), "no locks taken")
                self.assertTrue(wait_until(lock_for_sleep), self.locks(why=True))
                os.killpg(r.pid, signal.SIGINT)
                self.assertEqual(r.wait(timeout=15), 130)
                self.assertTrue(wait_until(lambda: self.locks() == [], timeout=8), "lock kept")
                for mock in self.stand_in.mocks.values():
                    mock.ClearCalls()
        # Qt's options are the command's, and Qt's platform is not set for it.
        said = subprocess.run([self.exe, "--while", "sh", "-c", 'echo "${QT_QPA_PLATFORM-unset}" $*',
                               "sh", "-platform", "x", "-display", "y"],
                              env={k: v for k, v in self.env.items() if k != "QT_QPA_PLATFORM"},
                              capture_output=True, text=True, timeout=30, check=False)
        self.assertEqual((said.returncode, said.stdout), (0, "unset -platform x -display y\n"),
                         said.stderr)
        missing = run_while("/nonexistent/make")
        self.assertEqual(missing.wait(timeout=15), 127)
        self.assertIn("/nonexistent/make could not be started", missing.stderr.read())

    def test_holds_for_commands_are_one_a_process_and_bounded(self):
        p = self.start("[GENERAL]\nLog=1\n")
        self.assertTrue(wait_until(lambda: dbus.SessionBus().name_has_owner("org.dozerin.Dozerin")))

        def pidfds():  # the holds' own descriptors; one may close between listing and reading
            def pidfd(link):
                try:
                    return os.readlink(link) == "anon_inode:[pidfd]"
                except FileNotFoundError:
                    return False
            return sum(pidfd(f"/proc/{p.pid}/fd/{fd}") for fd in os.listdir(f"/proc/{p.pid}/fd"))
        # 65 askers that ask three times each, then wait: the 65th is refused.
        asker = ("import dbus, sys\no = dbus.SessionBus().get_object('org.dozerin.Dozerin', "
                 "'/org/dozerin/Dozerin')\ntry:\n    for n in range(3): o.KeepAwakeWhile('x', "
                 "dbus_interface='org.dozerin.Dozerin')\n    print('held', flush=True)\n"
                 "except dbus.DBusException as e:\n    print(e.get_dbus_name(), flush=True)\n"
                 "sys.stdin.read()\n")
        askers = [subprocess.Popen(["/usr/bin/python3", "-c", asker], env=self.env, text=True,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE)
                  for _ in range(65)]
        self.children.extend(askers)
        self.assertEqual(sorted(a.stdout.readline().strip() for a in askers),
                         ["held"] * 64 + ["org.freedesktop.DBus.Error.LimitsExceeded"])
        self.assertTrue(wait_until(lambda: pidfds() == 64), pidfds())
        for a in askers:
            a.stdin.close()
        self.assertTrue(wait_until(lambda: pidfds() == 0), pidfds())
        self.stop(p)

    def test_a_hand_over_is_answered_before_a_failed_log_entry_is_shown(self):
        p = self.start("[GENERAL]\nLog=1\n")
        os.remove(self.log)
        os.mkdir(self.log)  # every later entry fails, and its message box is shown
        self.assertTrue(wait_until(lambda: dbus.SessionBus().name_has_owner("org.dozerin.Dozerin")))
        dbus.SessionBus().get_object("org.dozerin.Dozerin", "/org/dozerin/Dozerin").KeepAwake(
            dbus.Int64(60), dbus_interface="org.dozerin.Dozerin", timeout=5)  # else NoReply
        p.kill()

    def test_remote_connection_to_a_watched_port(self):
        listener = socket.create_server(("127.0.0.1", 0))
        port = listener.getsockname()[1]
        p = self.start(f"[GENERAL]\nLog=1\nMaxMargin=2\n[CONNECTION]\n0=x\n1={port}\n")
        with socket.create_connection(("127.0.0.1", port)) as client:
            accepted, _ = listener.accept()
            self.wait_line("Event KIND_REMOTE")
            self.assertTrue(wait_until(lambda: self.locks(why=True) == [
                ("idle", "block", f"remote :{port} from 127.0.0.1")]), self.locks(why=True))
            accepted.close()
        self.assertTrue(wait_until(lambda: self.locks() == [], timeout=8))
        listener.close()
        self.stop(p)

    def test_no_service_to_ask_is_said(self):
        # A session bus of its own with no desktop service, and no system bus at all.
        bus = subprocess.Popen(["dbus-daemon", "--session", "--print-address=1", "--nofork"],
                               stdout=subprocess.PIPE, text=True)
        self.children.append(bus)
        self.env.update(DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().strip(),
                        DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + self.folder + "/no-bus")
        p = self.start("[GENERAL]\nLog=1\n", ["--keep-awake"])
        status = lambda: subprocess.run([self.exe, "--status"], env=self.env, capture_output=True,
                                        text=True, timeout=30).stdout
        self.assertTrue(wait_until(lambda: status().endswith(
            "; could not keep awake: no service to ask\n")), status())
        p.send_signal(signal.SIGTERM)
        self.assertEqual(p.wait(timeout=15), 0)

    def test_second_start_ends_at_once(self):
        # The bus name taken by another: the instance runs without it, and requests say so.
        squatter = dbus.SessionBus(private=True)
        squatter.request_name("org.dozerin.Dozerin")
        p = self.start("[GENERAL]\nLog=1\n")
        second = subprocess.run([self.exe], env=self.env, timeout=10, check=False)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(self.lines(), ["Start WorkThread!!"])
        for option in ("--status", "--settings"):
            asked = subprocess.run([self.exe, option], env=self.env, capture_output=True,
                                   text=True, timeout=30, check=False)
            self.assertEqual((asked.returncode, asked.stdout), (1, ""), option)
            self.assertIn("does not answer on the session bus", asked.stderr, option)
        squatter.close()
        self.stop(p)

    def test_without_a_display_the_rest_goes_on(self):
        del self.env["DISPLAY"]
        del self.env["QT_QPA_PLATFORM"]
        watched = os.path.join(self.folder, "dozerin-watched")
        shutil.copy("/bin/sleep", watched)
        p = self.start("[GENERAL]\nLog=1\nMouseCap=1\n[PROCESS]\n0=dozerin-watched\n"
                       "[WINDOW]\n0=*\n")
        self.wait_line("There is no X11 display: windows and the mouse cannot be watched.")
        self.assertNotIn("Event KIND_WINDOW", self.lines())
        self.spawn([watched, "60"])
        self.wait_line("Event KIND_PROCESS")
        self.stop(p)

    def test_network_and_processor_from_the_recorded_tree(self):
        root = os.path.join(self.folder, "root")
        for name, kind in (("lo", 772), ("eth0", 1)):
            os.makedirs(os.path.join(root, "sys/class/net", name))
            with open(os.path.join(root, "sys/class/net", name, "type"), "w") as f:
                f.write(f"{kind}\n")
        os.makedirs(os.path.join(root, "proc/net"))
        os.makedirs(os.path.join(root, "sys/class/block/sda1"))
        open(os.path.join(root, "sys/class/block/sda1/partition"), "w").close()
        counters = {"lo": 0, "eth0": 0, "busy": 0, "idle": 0, "sda": 0, "sda1": 0, "loop0": 0}
        # Sectors a second on the disks: a partition and a loop device never count.
        rates = {"lo": 50 << 20, "eth0": 0, "busy": 10, "idle": 90, "sda": 0, "sda1": 1 << 16,
                 "loop0": 1 << 16}
        done = threading.Event()

        def advance():
            while not done.is_set():
                for key, rate in rates.items():
                    counters[key] += rate // 10
                net = ("Inter-|   Receive\n face |bytes\n" + "".join(
                    f"{n:>6}: {counters[n]} 0 0 0 0 0 0 0 {counters[n]} 0 0 0 0 0 0 0\n"
                    for n in ("lo", "eth0")))
                stat = (f"cpu  1 1 1 1\ncpu0 {counters['busy']} 0 0 {counters['idle']} 0 0 0 0\n"
                        f"cpu1 0 0 0 {counters['busy'] + counters['idle']} 0 0 0 0\n")
                disks = "".join(f"8 {i} {n} 0 0 {counters[n]} 0 0 0 {counters[n]} 0 0 0 0\n"
                                for i, n in enumerate(("sda", "sda1", "loop0")))
                for path, text in (("proc/net/dev", net), ("proc/stat", stat),
                                   ("proc/diskstats", disks)):
                    with open(os.path.join(root, path + ".new"), "w") as f:
                        f.write(text)
                    os.replace(os.path.join(root, path + ".new"), os.path.join(root, path))
                time.sleep(0.1)

        thread = threading.Thread(target=advance)
        thread.start()
        try:
            p = self.start("[GENERAL]\nLog=1\nNetworkTraffic=102400\nNetworkAveTime=0\n"
                           "CPUUsage=50\nCPUAveTime=0\nDiskTraffic=1024\nDiskAveTime=0\n",
                           DOZERIN_PROC_ROOT=root)
            time.sleep(3)  # loopback traffic, a partition and a loop device, a quiet processor
            for kind in ("NETWORK", "CPU", "DISK"):
                self.assertNotIn("Event KIND_" + kind, self.lines())
            rates["sda"] = 1 << 13  # 4 MB/s on the whole disk
            self.wait_line("Event KIND_DISK")
            self.assertTrue(wait_until(lambda: re.fullmatch(
                r"disk \d+\.\d MB/s", "".join(r for _, _, r in self.locks(why=True)))))
            rates["busy"], rates["idle"] = 90, 10
            self.wait_line("Event KIND_CPU")
            rates["eth0"] = 1 << 20
            self.wait_line("Event KIND_NETWORK")
            self.stop(p)
        finally:
            done.set()
            thread.join()


if __name__ == "__main__":
    unittest.main(verbosity=2)
