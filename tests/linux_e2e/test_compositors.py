#!/usr/bin/python3
"""The native Linux dozerin on real headless Wayland compositors, each with XWayland: sway and
labwc (wlroots), KWin and GNOME Shell with the program's extension. One flow per compositor: a
native window found by its title holds logind's idle lock, pointer motion counts as activity, the
lock goes after the margin once the window closes, and an XWayland window is found too."""
import glob
import os
import pathlib
import re
import runpy
import shutil
import subprocess
import tempfile
import time
import unittest

import dbus
import dbus.lowlevel
import dbusmock

HERE = os.path.dirname(os.path.abspath(__file__))
DOZERIN = os.environ["DOZERIN_EXE"]
FAKE_POINTER = os.environ["FAKE_POINTER"]
Desktop = runpy.run_path(os.path.join(HERE, "../../tools/mock-desktop.py"))["Desktop"]
# Both forms of the shell extension, as the build made them or as installed; each GNOME loads its
# own.
EXTENSIONS = os.environ["SHELL_EXTENSIONS"]
# The program as installed: its desktop entry and extensions are where the desktops look.
INSTALLED = os.environ.get("DOZERIN_INSTALLED") == "1"
WINDOW = ("import sys, gi\ngi.require_version('Gtk', '3.0')\nfrom gi.repository import Gtk\n"
          "w = Gtk.Window(title=sys.argv[1])\nw.show_all()\nGtk.main()\n")
# sway refuses root: as root the tests run it as nobody.
NOBODY = (["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
          if os.geteuid() == 0 else [])


def wait_until(condition, timeout=60.0, every=None):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if every is not None:
            every()
        if condition():
            return True
        time.sleep(0.2 if every is None else 1.5)
    return condition()


def read(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


class Compositors(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stand_in = Desktop()  # private buses with logind; its X display is not used

    @classmethod
    def tearDownClass(cls):
        cls.stand_in.stop()

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="dozerin-wl-")
        os.chmod(self.folder, 0o755)
        self.run_dir = os.path.join(self.folder, "run")
        os.mkdir(self.run_dir, 0o700)
        self.own_dir = os.path.join(self.folder, "own")  # the program's, for its instance lock
        os.mkdir(self.own_dir, 0o700)
        self.exe = DOZERIN if INSTALLED else os.path.join(self.folder, "dozerin")
        if not INSTALLED:
            shutil.copy(DOZERIN, self.exe)
        # A copy keeps its files beside it; the installed program, in the user's folders.
        config, state = ((os.path.join(self.folder, "config", "dozerin"),
                          os.path.join(self.folder, ".local", "state", "dozerin"))
                         if INSTALLED else (self.folder, self.folder))
        self.ini, self.log = os.path.join(config, "dozerin.ini"), os.path.join(state, "dozerin.log")
        os.makedirs(os.path.dirname(self.ini), exist_ok=True)
        self.pointer = os.path.join(self.folder, "fake_pointer")
        shutil.copy(FAKE_POINTER, self.pointer)
        self.children = []
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env.update(XDG_RUNTIME_DIR=self.run_dir, HOME=self.folder, LANG="C.UTF-8",
                        XDG_CONFIG_HOME=os.path.join(self.folder, "config"),
                        XDG_CACHE_HOME=os.path.join(self.folder, "cache"),
                        XDG_DATA_DIRS=os.path.join(self.folder, "data") +
                        ":/usr/local/share:/usr/share")
        # What KWin grants the pointer mover, and a copy of the program: their desktop entries.
        apps = os.path.join(self.folder, "data", "applications")
        os.makedirs(apps)
        for name, exe, interface in [("fake-pointer", self.pointer, "org_kde_kwin_fake_input")] + (
                [] if INSTALLED else [("org.dozerin.Dozerin", self.exe,
                                       "org_kde_plasma_window_management")]):
            with open(os.path.join(apps, name + ".desktop"), "w", encoding="utf-8") as f:
                f.write(f"[Desktop Entry]\nType=Application\nName={name}\nExec={exe}\n"
                        f"X-KDE-Wayland-Interfaces={interface}\n")
        for uuid in [] if INSTALLED else os.listdir(EXTENSIONS):  # each allowing this copy
            metadata = pathlib.Path(shutil.copytree(os.path.join(EXTENSIONS, uuid), os.path.join(
                self.folder, "data", "gnome-shell", "extensions", uuid)), "metadata.json")
            metadata.write_text(metadata.read_text().replace("@PROGRAM@", self.exe))

    def tearDown(self):
        for child in reversed(self.children):
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()
        shutil.rmtree(self.folder, ignore_errors=True)

    def spawn(self, args, log=os.devnull, **env):
        with open(log, "w", encoding="utf-8") as out:
            p = subprocess.Popen(args, env=dict(self.env, **env), stdout=out,
                                 stderr=subprocess.STDOUT, start_new_session=True)
        self.children.append(p)
        return p

    # Each compositor: started, then (its Wayland socket, XWayland's environment, a pointer mover).
    def sway(self):
        if NOBODY:
            os.chown(self.folder, 65534, 65534)
            os.chown(self.run_dir, 65534, 65534)
        config = os.path.join(self.folder, "sway.conf")
        display_file = os.path.join(self.run_dir, "x-display")
        with open(config, "w", encoding="utf-8") as f:
            # XWayland runs as the compositor's user: it lets root's clients in.
            f.write(f"xwayland enable\nexec sh -c 'xhost +si:localuser:root && "
                    f"echo $DISPLAY > {display_file}'\n")
        self.spawn(NOBODY + ["sway", "-c", config], os.path.join(self.folder, "compositor.log"),
                   WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
        self.assertTrue(wait_until(lambda: read(display_file).strip()), "sway did not start")
        swaysock = glob.glob(os.path.join(self.run_dir, "sway-ipc.*.sock"))[0]
        return (self.socket(), dict(DISPLAY=read(display_file).strip()),
                lambda: subprocess.run(["swaymsg", "-s", swaysock, "seat", "-", "cursor", "move",
                                        "30", "30"], capture_output=True, check=False))

    def labwc(self):
        display_file = os.path.join(self.run_dir, "x-display")
        self.spawn(["labwc", "-s", f"sh -c 'echo $DISPLAY > {display_file}'"],
                   os.path.join(self.folder, "compositor.log"), WLR_BACKENDS="headless",
                   WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
        self.assertTrue(wait_until(lambda: read(display_file).strip()), "labwc did not start")
        return self.with_fake_pointer(display_file)

    def kwin(self):
        kwin = os.path.join(self.folder, "kwin_wayland")
        shutil.copy("/usr/bin/kwin_wayland", kwin)  # without the file capability it carries
        display_file = os.path.join(self.run_dir, "x-display")
        started = os.path.join(self.folder, "started")  # run by KWin once XWayland is up
        with open(started, "w", encoding="utf-8") as f:
            f.write(f"#!/bin/sh\necho $DISPLAY > {display_file}\nexec sleep 1d\n")
        os.chmod(started, 0o755)
        if os.path.exists(display_file):
            os.remove(display_file)  # a restart's
        self.compositor = self.spawn(
            [kwin, "--virtual", "--xwayland", "--socket", "wayland-k", "--width", "1024",
             "--height", "768", started], os.path.join(self.folder, "compositor.log"),
            # KWin 6 finds desktop entries through the application menu, Plasma's.
            QT_QPA_PLATFORM="offscreen", XDG_MENU_PREFIX="plasma-")
        self.assertTrue(wait_until(lambda: read(display_file).strip()), "kwin did not start")
        return self.with_fake_pointer(display_file)

    def with_fake_pointer(self, display_file):
        # The compositor's socket, its XWayland, and the pointer moved by tests/fake_pointer.
        socket = self.socket()
        return (socket, dict(DISPLAY=read(display_file).strip()),
                lambda: subprocess.run([self.pointer], env=dict(self.env, WAYLAND_DISPLAY=socket),
                                       check=False))

    def gnome(self):
        # The extension enabled in settings kept in a key file: the private bus has no dconf.
        settings = os.path.join(self.folder, "config", "glib-2.0", "settings")
        os.makedirs(settings)
        with open(os.path.join(settings, "keyfile"), "w", encoding="utf-8") as f:
            f.write("[org/gnome/shell]\nenabled-extensions="
                    f"{sorted(os.listdir(EXTENSIONS))}\n")
        # Someone else (a video player) holds GNOME's idle inhibitor, which stops Mutter's idle
        # watches: the program's activity must not depend on them.
        session = self.stand_in.mocks["org.gnome.SessionManager"]
        session.AddProperty("org.gnome.SessionManager", "InhibitedActions", dbus.UInt32(8))
        self.addCleanup(session.Set, "org.gnome.SessionManager", "InhibitedActions",
                        dbus.UInt32(0), dbus_interface=dbus.PROPERTIES_IFACE)
        # GNOME Shell offers its lock screen where GDM runs, on a system with logind's seats.
        self.assertTrue(os.path.isdir("/run/systemd/seats"), "no /run/systemd/seats")
        name = "org.gnome.DisplayManager"
        gdm = dbusmock.DBusTestCase.spawn_server(name, "/org/gnome/DisplayManager/Manager",
                                                 name + ".Manager", system_bus=True,
                                                 stdout=subprocess.DEVNULL)
        self.children.append(gdm)
        dbus.Interface(dbus.SystemBus().get_object(name, "/org/gnome/DisplayManager/Manager"),
                       dbusmock.MOCK_IFACE).AddProperty(name + ".Manager", "Version", "48.0")
        log = os.path.join(self.folder, "compositor.log")
        self.spawn(["gnome-shell", "--headless", "--wayland", "--wayland-display", "wayland-g",
                    "--virtual-monitor", "1024x768"], log, GSETTINGS_BACKEND="keyfile")
        found = []
        self.assertTrue(wait_until(lambda: found.extend(
            re.findall(r"Using public X11 display (:\d+)", read(log))) or found),
            "gnome-shell did not start")
        bus = dbus.SessionBus()
        self.assertTrue(wait_until(lambda: bus.name_has_owner("org.dozerin.Dozerin.Shell")),
                        "the extension did not start")

        def move():
            name = "org.gnome.Mutter.RemoteDesktop"
            path = dbus.Interface(bus.get_object(name, "/org/gnome/Mutter/RemoteDesktop"),
                                  name).CreateSession()
            session = dbus.Interface(bus.get_object(name, path), name + ".Session")
            session.Start()
            session.NotifyPointerMotionRelative(30.0, 30.0)
            session.Stop()
        # Mutter's XWayland lets in the clients that have its key.
        auth = glob.glob(os.path.join(self.run_dir, ".mutter-Xwaylandauth.*"))
        return self.socket(), dict(DISPLAY=found[0], XAUTHORITY=auth[0] if auth else ""), move

    def socket(self):
        self.assertTrue(wait_until(lambda: [s for s in glob.glob(self.run_dir + "/wayland-*")
                                            if not s.endswith(".lock")]))
        return [s for s in glob.glob(self.run_dir + "/wayland-*") if not s.endswith(".lock")][0]

    def window(self, title, **env):
        return self.spawn(["/usr/bin/python3", "-c", WINDOW, title], **env)

    def reasons(self):
        manager = dbus.Interface(self.stand_in.logind_obj, "org.freedesktop.login1.Manager")
        return [str(i[2]) for i in manager.ListInhibitors()
                if str(i[1]) == "Dozerin" and str(i[0]) == "idle"]

    def lines(self):
        return [line.split(" - ", 1)[1].rstrip("\n")
                for line in read(self.log).splitlines(True)
                if " - " in line]

    def flow(self, compositor):
        socket, x_env, move_pointer = compositor()  # x_env: XWayland's DISPLAY and its key
        native = self.window("native watch me", WAYLAND_DISPLAY=socket, GDK_BACKEND="wayland")
        with open(self.ini, "w", encoding="utf-8") as f:
            f.write("[GENERAL]\nLog=1\nMouseCap=1\nMaxMargin=2\nBusyDisplay=1\n"
                    "[WINDOW]\n0=*native watch me*\n1=*x11 watch me*\n")
        dozerin = self.dozerin_on(socket, **x_env)
        self.assertTrue(wait_until(lambda: "window *native watch me*" in " ".join(self.reasons())),
                        f"{self.lines()[-5:]} {self.reasons()}")
        self.assertIn("Event KIND_WINDOW", self.lines())
        # Pointer motion after a second without input, while the program's locks are held.
        self.assertTrue(wait_until(lambda: "Event KIND_MOUSE" in self.lines(), every=move_pointer),
                        self.lines()[-5:])
        native.terminate()
        self.assertTrue(wait_until(lambda: self.reasons() == []), self.reasons())
        self.window("x11 watch me", GDK_BACKEND="x11", **x_env)
        self.assertTrue(wait_until(lambda: "window *x11 watch me*" in " ".join(self.reasons())),
                        f"{self.lines()[-5:]} {self.reasons()}")
        self.assertFalse([line for line in self.lines() if "only X11" in line])
        dozerin.terminate()
        self.assertEqual(dozerin.wait(timeout=15), 0)
        # Where the compositor offers the ext window list (sway 1.10, COSMIC), it is the one used.
        said = read(os.path.join(self.folder, "dozerin.out"))
        offered, bound = [set(re.findall(rf'{kind}\(\d+, "(\w+_toplevel_\w+)"', said))
                          for kind in ("global", "bind")]
        self.assertTrue(offered or compositor != self.sway, "no window list seen offered")
        self.assertEqual(bound, {"ext_foreign_toplevel_list_v1"} & offered or
                         {"zwlr_foreign_toplevel_manager_v1"} & offered, offered)
        # Activity from the input notification, which no idle inhibitor stops, where offered.
        notifier = re.findall(r'global\(\d+, "ext_idle_notifier_v1", (\d+)\)', said)
        asked = set(re.findall(r"ext_idle_notifier_v1[@#]\d+\.(get_\w+)\(", said))
        self.assertEqual(asked, set() if not notifier else {"get_input_idle_notification"}
                         if int(notifier[0]) >= 2 else {"get_idle_notification"}, notifier)

    def dozerin_on(self, socket, **env):
        return self.spawn([self.exe], os.path.join(self.folder, "dozerin.out"),
                          WAYLAND_DISPLAY=socket, QT_QPA_PLATFORM="offscreen",
                          XDG_RUNTIME_DIR=self.own_dir, WAYLAND_DEBUG="client", **env)

    def sway_tree(self):
        sock = glob.glob(os.path.join(self.run_dir, "sway-ipc.*.sock"))[0]
        return subprocess.run(["swaymsg", "-s", sock, "-t", "get_tree"], capture_output=True,
                              text=True, check=False).stdout

    def items(self):
        try:
            watcher = dbus.SessionBus().get_object("org.kde.StatusNotifierWatcher",
                                                   "/StatusNotifierWatcher")
            return [str(i) for i in watcher.Get("org.kde.StatusNotifierWatcher",
                                                "RegisteredStatusNotifierItems",
                                                dbus_interface=dbus.PROPERTIES_IFACE)]
        except dbus.DBusException:
            return []

    def test_tray_and_face_on_sway(self):
        """waybar's tray started after the program and restarted; its click, its menu, --status and
        --settings; starts with no usable display."""
        socket, x_env, _ = self.sway()
        env = dict(WAYLAND_DISPLAY=socket, XDG_RUNTIME_DIR=self.own_dir, **x_env)
        with open(self.ini, "w", encoding="utf-8") as f:
            f.write("[GENERAL]\nLog=1\n")
        cli = lambda *args: subprocess.run([self.exe, *args], env=dict(self.env, **env),
                                           capture_output=True, text=True, timeout=60)
        self.assertEqual((cli("--status").returncode, cli("--status").stdout),
                         (1, "Dozerin is not running.\n"))
        dozerin = self.spawn([self.exe], **env)
        self.assertTrue(wait_until(lambda: "Start WorkThread!!" in self.lines()))
        config = os.path.join(self.folder, "waybar.json")
        with open(config, "w", encoding="utf-8") as f:
            f.write('{"modules-right": ["tray"]}')
        for _ in range(2):  # a host that starts after the program, then the same host restarted
            waybar = self.spawn(["waybar", "-c", config], **env)
            self.assertTrue(wait_until(lambda: len(self.items()) == 1), "no item")
            waybar.terminate()
            waybar.wait()
        self.spawn(["waybar", "-c", config], **env)
        self.assertTrue(wait_until(lambda: len(self.items()) == 1), "no item")
        name, path = self.items()[0].split("/", 1)
        item = dbus.SessionBus().get_object(name, "/" + path)
        item.Activate(0, 0, dbus_interface="org.kde.StatusNotifierItem")
        self.assertTrue(wait_until(lambda: '"name": "Dozerin"' in self.sway_tree()), "no dialog")
        menu_object = dbus.SessionBus().get_object(name, str(item.Get(
            "org.kde.StatusNotifierItem", "Menu", dbus_interface=dbus.PROPERTIES_IFACE)))
        # dbusmenu's signal of removed properties names them: a(ias).
        self.assertIn('name="removed" type="a(ias)"', menu_object.Introspect(
            dbus_interface="org.freedesktop.DBus.Introspectable"))
        menu = dbus.Interface(menu_object, "com.canonical.dbusmenu")
        _, layout = menu.GetLayout(0, -1, [])
        hour = next(c[0] for sub in layout[2] for c in sub[2] if c[1].get("label") == "1 hour")
        menu.Event(hour, "clicked", dbus.Int32(0, variant_level=1), 0)
        self.assertTrue(wait_until(lambda: "kept awake by hand" in " ".join(self.reasons())))
        status = cli("--status")
        self.assertEqual(status.returncode, 0)
        self.assertTrue(status.stdout.startswith("busy: kept awake by hand"), status.stdout)
        self.assertEqual(cli("--settings").returncode, 0)
        dozerin.terminate()
        self.assertEqual(dozerin.wait(timeout=15), 0)
        # --settings with none running starts the program with its settings open.
        starting = self.spawn([self.exe, "--settings"], **env)
        self.assertTrue(wait_until(lambda: self.lines().count("Start WorkThread!!") == 2))
        self.assertTrue(wait_until(lambda: '"name": "Dozerin"' in self.sway_tree()), "no dialog")
        starting.terminate()
        self.assertEqual(starting.wait(timeout=15), 0)
        # Nothing to show on: Qt's Wayland plugin hidden on a Wayland-only session, or an X
        # display that is not there. Each runs on, log only.
        plugins = os.path.join(self.folder, "plugins", "platforms")
        os.makedirs(plugins)
        for plugin in glob.glob("/usr/lib/*/qt6/plugins/platforms/libq*.so"):
            if "wayland" not in plugin:
                os.symlink(plugin, os.path.join(plugins, os.path.basename(plugin)))
        with open(os.path.join(self.folder, "qt.conf"), "w", encoding="utf-8") as f:
            f.write(f"[Paths]\nPlugins={os.path.dirname(plugins)}\n")
        if INSTALLED:  # Qt reads qt.conf beside the program: a copy, its files beside it
            self.exe = os.path.join(self.folder, "dozerin")
            shutil.copy(DOZERIN, self.exe)
            shutil.copy(self.ini, os.path.join(self.folder, "dozerin.ini"))
            self.log = os.path.join(self.folder, "dozerin.log")
        for case in [dict(WAYLAND_DISPLAY=socket, XDG_RUNTIME_DIR=self.own_dir),
                     dict(DISPLAY=":97", XDG_RUNTIME_DIR=self.own_dir)]:
            said = "There is no display to show the icon or the settings on: running on, log only."
            count = self.lines().count(said) + 1
            alive = self.spawn([self.exe], **case)
            self.assertTrue(wait_until(lambda: self.lines().count(said) == count), case)
            alive.terminate()
            self.assertEqual(alive.wait(timeout=15), 0, case)

    def test_sway(self):
        self.flow(self.sway)

    @unittest.skipUnless(shutil.which("labwc"), "no labwc here (Debian 13 has it)")
    def test_labwc(self):
        self.flow(self.labwc)

    def test_kwin(self):
        self.flow(self.kwin)
        # KWin restarted, as after a crash: the program connects again and sees the new windows.
        socket = self.socket()
        dozerin = self.dozerin_on(socket)
        self.assertTrue(wait_until(lambda: self.lines().count("Start WorkThread!!") == 2))
        os.killpg(self.compositor.pid, 9)
        self.compositor.wait()
        self.assertTrue(wait_until(lambda: self.reasons() == []), self.reasons())
        self.kwin()
        self.window("native watch me", WAYLAND_DISPLAY=socket, GDK_BACKEND="wayland")
        self.assertTrue(wait_until(lambda: "window *native watch me*" in " ".join(self.reasons())),
                        f"{self.lines()[-5:]} {self.reasons()}")
        dozerin.terminate()
        self.assertEqual(dozerin.wait(timeout=15), 0)

    def test_gnome_shell(self):
        self.flow(self.gnome)
        bus = dbus.SessionBus()
        shell = ("org.dozerin.Dozerin.Shell", "/org/dozerin/Dozerin/Shell",
                 "org.dozerin.Dozerin.Shell")
        # The screen locks, and a watched window that opens then is seen: the list goes on.
        socket = self.socket()
        dozerin = self.dozerin_on(socket)
        saver = dbus.Interface(bus.get_object("org.gnome.Shell.ScreenShield",
                                              "/org/gnome/ScreenSaver"),
                               "org.gnome.ScreenSaver")
        saver.Lock()
        self.assertTrue(wait_until(lambda: bool(saver.GetActive())), "the screen did not lock")
        self.window("native watch me", WAYLAND_DISPLAY=socket, GDK_BACKEND="wayland")
        self.assertTrue(wait_until(lambda: "window *native watch me*" in " ".join(self.reasons())),
                        f"not seen while locked: {self.lines()[-5:]} {self.reasons()}")
        self.assertTrue(saver.GetActive())
        dozerin.terminate()
        self.assertEqual(dozerin.wait(timeout=15), 0)
        # The extension lists the windows to the program alone.
        with self.assertRaisesRegex(dbus.DBusException, "AccessDenied"):
            bus.call_blocking(*shell, "GetWindows", "", [])
        # With the extension off, anyone may own its name: what they send is not taken.
        for uuid in os.listdir(EXTENSIONS):
            bus.call_blocking("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions",
                              "DisableExtension", "s", [uuid])
        self.assertTrue(wait_until(lambda: not bus.name_has_owner(shell[0])))
        rogue = dbus.SessionBus(private=True)
        rogue.request_name(shell[0])
        socket = self.socket()
        dozerin = self.dozerin_on(socket)
        status = lambda: subprocess.run([self.exe, "--status"], capture_output=True, text=True,
                                        env=dict(self.env, WAYLAND_DISPLAY=socket,
                                                 XDG_RUNTIME_DIR=self.own_dir), timeout=60)
        self.assertTrue(wait_until(lambda: status().returncode == 0))
        for signature, value in [("au", [1, 2]), ("a(ss)", [("native watch me", "x")])]:
            message = dbus.lowlevel.SignalMessage(shell[1], shell[2], "WindowsChanged")
            message.append(dbus.Array(value, signature=signature[1:]))
            rogue.send_message(message)
        answer = status()
        self.assertEqual(answer.returncode, 0, "the program did not survive a forged list")
        self.assertNotIn("window", answer.stdout)
        dozerin.terminate()
        self.assertEqual(dozerin.wait(timeout=15), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
