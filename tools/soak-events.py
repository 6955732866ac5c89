#!/usr/bin/python3
"""The soak in compressed time: the same real program on the same stand-in desktop or Wine as
tools/soak.py, but its events driven as fast as it takes them, each kind by a driver of its own:
watched programs and windows every fraction of a second, the pointer, holds by hand started and
stopped, suspend and resume, the settings opened and closed with OK and Cancel, the tray or
taskbar restarting. Memory is measured against the count of events, not the time: after the
warm-up (the first third of the events) the least-squares slope must stay within one page per
10 000 events. It fails, as the soak does, when the program ends or stops answering, when an
event is not taken, or when the log breaks its order. It writes events.csv and events.png into
--out.
Usage: soak-events.py [--program linux|windows] [--events N] [--minutes M] [--out DIR] [--exe PROGRAM]
                      [--kinds program,window,pointer,hold,suspend,settings,tray]"""
import argparse
import os
import random
import runpy
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
soak = runpy.run_path(os.path.join(HERE, "soak.py"))

PAGE_KIB = 4
PER_EVENTS = 10000
SAMPLE_SECONDS = 10


class LogTail:
    """The program's log read as it grows: how often each entry has come so far."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.rest = b""
        self.counts = {}
        self.lock = threading.Lock()

    def count(self, entry):
        with self.lock:
            try:
                with open(self.path, "rb") as f:
                    f.seek(self.offset)
                    data = f.read()
            except FileNotFoundError:
                data = b""
            self.offset += len(data)
            *complete, self.rest = (self.rest + data).split(b"\n")
            for line in complete:
                text = line.decode(errors="replace").rstrip("\r").split(" - ", 1)[-1]
                self.counts[text] = self.counts.get(text, 0) + 1
            return self.counts.get(entry, 0)


def wait_for(predicate, seconds):
    end = time.monotonic() + seconds
    while not predicate():
        if time.monotonic() > end:
            return False
        time.sleep(0.02)
    return True


class Drivers:
    """One thread per kind of event; each counts what the program took and stops the run with a
    failure when an event was not taken."""

    def __init__(self, world, tail):
        self.world = world
        self.tail = tail
        self.counts = {}
        self.failure = None
        self.stop = threading.Event()
        self.lock = threading.Lock()
        self.children = []
        # Memory is read between events: a sample taken with the settings open would hold the
        # dialog's pages, and the series would be mostly that noise.
        self.go = threading.Event()
        self.go.set()
        self.busy = 0

    def total(self):
        with self.lock:
            return sum(self.counts.values())

    def fail(self, text):
        with self.lock:
            self.failure = self.failure or text
        self.stop.set()

    def run(self, kind, action, gap):
        def loop():
            while not self.stop.is_set():
                self.go.wait()
                with self.lock:
                    if not self.go.is_set():  # held between the wait and here
                        continue
                    self.busy += 1
                try:
                    problem = action()
                except Exception as e:  # a driver's own fault must end the run, not hide
                    problem = f"the {kind} driver failed: {e!r}"
                finally:
                    with self.lock:
                        self.busy -= 1
                if problem:
                    self.fail(f"{kind}: {problem}")
                    return
                with self.lock:
                    self.counts[kind] = self.counts.get(kind, 0) + 1
                self.stop.wait(gap)
        thread = threading.Thread(target=loop, name=kind, daemon=True)
        thread.start()
        return thread

    def spawn_for(self, start, seconds, most):
        """A watched program or window that lives for seconds; at most most of them at once."""
        with self.lock:
            self.children = [c for c in self.children if c.poll() is None]
            if len(self.children) >= most:
                return None
        child = start()
        threading.Timer(seconds, child.terminate).start()  # timeout passes it on
        with self.lock:
            self.children.append(child)
        return None

    def pause(self):
        """Holds the drivers between events, with the program's answer to the last one in."""
        with self.lock:
            self.go.clear()
        wait_for(lambda: self.busy == 0 or self.stop.is_set(), 60)
        time.sleep(1.5)  # the program's next pass, which takes what the events left

    def end(self):
        self.stop.set()
        self.go.set()
        with self.lock:
            for c in self.children:
                c.terminate()


def linux_drivers(world, drivers):
    import dbus

    def bus():
        connection = dbus.bus.BusConnection(os.environ["DBUS_SESSION_BUS_ADDRESS"])
        return dbus.Interface(connection.get_object("org.dozerin.Dozerin", "/org/dozerin/Dozerin"),
                              "org.dozerin.Dozerin")
    holds = bus()
    dialogs = bus()

    def hold():
        if random.random() < 0.5:
            holds.KeepAwake(dbus.Int64(random.choice([20, 60])), timeout=20)
        else:
            holds.Stop(timeout=20)

    def dialog_windows():
        return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Dozerin$"],
                              env=world.env,
                              capture_output=True, text=True, check=False).stdout.split()

    def settings():
        dialogs.Settings(timeout=20)
        found = []
        if not wait_for(lambda: found.extend(dialog_windows()) or found, 20):
            return "the settings did not open within 20 s"
        key = "Return" if random.random() < 0.5 else "Escape"
        # A key that came before the dialog took the focus is lost: it is pressed again.
        for _ in range(10):
            world.run(["xdotool", "windowfocus", "--sync", found[0]])
            world.run(["xdotool", "key", key])
            if wait_for(lambda: not dialog_windows(), 2):
                return None
        return "the settings did not close within 20 s"

    def suspend():
        before = drivers.tail.count("Start WorkThread!!")
        world.desktop.sleep_signal(True)
        world.desktop.sleep_signal(False)
        if not wait_for(lambda: drivers.tail.count("Start WorkThread!!") > before, 30):
            return "no new worker within 30 s of a resume"
        return None

    def program():
        return drivers.spawn_for(lambda: world.start_watched(5), 1.5, 8)

    def window():
        return drivers.spawn_for(lambda: world.start_window(2), 2, 8)

    def tray():
        world.restart_tray()

    return [("program", program, 0.15), ("window", window, 0.15),
            ("pointer", world.move_pointer, 0.05), ("hold", hold, 0.05),
            ("suspend", suspend, 0.2), ("settings", settings, 0.1), ("tray", tray, 1.0)]


class PokeServer:
    """poke.exe serve: one Wine process that takes an action per line and answers its code."""

    def __init__(self, world):
        self.process = subprocess.Popen(
            [os.path.join(ROOT, "cmake/wine-run.sh"), world.poke_exe, "serve"], env=world.env,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
            bufsize=1)

    def __call__(self, *args):
        self.process.stdin.write(" ".join(args) + "\n")
        self.process.stdin.flush()
        line = self.process.stdout.readline()
        return int(line) if line.strip().lstrip("-").isdigit() else -1

    def close(self):
        self.process.kill()


def windows_drivers(world, drivers):
    servers = {}

    def poke(kind, *args):
        if kind not in servers:
            servers[kind] = PokeServer(world)
        code = servers[kind](*args)
        return None if code == 0 else f"poke {' '.join(args)} gave {code}"

    def hold():
        return poke("hold", "hold", random.choice(["20", "60", "off"]))

    def settings():
        return poke("settings", "sheet", "ok" if random.random() < 0.5 else "cancel")

    def suspend():
        return poke("suspend", "suspend") or poke("suspend", "resume")

    def pointer():
        return poke("pointer", "cursor", str(random.randint(100, 1000)),
                    str(random.randint(100, 700)))

    def program():
        # A Wine process takes a few seconds to start; each lives long enough to be seen.
        return drivers.spawn_for(lambda: world.wine([world.watchme]), 6, 4)

    def tray():
        return poke("tray", "taskbar")

    drivers.servers = servers
    return [("program", program, 0.5), ("pointer", pointer, 0.05), ("hold", hold, 0.05),
            ("suspend", suspend, 0.2), ("settings", settings, 0.1), ("tray", tray, 1.0)]


def slope_per_events(rows):
    """The slope of memory against events after the first third of the events, in KiB per
    PER_EVENTS; None when too few samples follow the warm-up."""
    if not rows:
        return None
    warm = rows[-1][0] / 3
    kept = [(r[0], r[1]) for r in rows if r[0] >= warm]
    if len(kept) < 4:
        return None
    mean_e = sum(e for e, _ in kept) / len(kept)
    mean_m = sum(m for _, m in kept) / len(kept)
    spread = sum((e - mean_e) ** 2 for e, _ in kept)
    if spread == 0:
        return None
    return sum((e - mean_e) * (m - mean_m) for e, m in kept) / spread * PER_EVENTS


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", choices=("linux", "windows"), default="linux")
    parser.add_argument("--events", type=int, default=210000)
    parser.add_argument("--out", default=None)
    parser.add_argument("--exe", default=None, help="the program to soak instead of the build's")
    parser.add_argument("--minutes", type=float, default=None,
                        help="end then even short of the events (the rule is held all the same)")
    # To tell which kind of event a climb comes with.
    parser.add_argument("--kinds", default=None,
                        help="only these drivers, of program,window,pointer,hold,suspend,"
                             "settings,tray")
    args = parser.parse_args()
    out = args.out or os.path.join(ROOT, "build", "soak-events-" + args.program)
    os.makedirs(out, exist_ok=True)
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    work = tempfile.mkdtemp(prefix="dozerin-soak-events-")
    os.chmod(work, 0o700)
    log = os.path.join(work, "dozerin.log")
    world = (soak["LinuxWorld"] if args.program == "linux" else soak["WindowsWorld"])(work,
                                                                                     args.exe)
    random.seed(1)
    tail = LogTail(log)
    drivers = Drivers(world, tail)
    rows = []
    maps = []  # the mappings at each sample, to tell where a climb lies
    started = time.monotonic()
    failure = None if world.pid is not None else "the program did not start"
    try:
        if failure is None and not wait_for(world.answers, 60):
            failure = "the program did not answer after its start"
        if failure is None:
            kinds = (linux_drivers if args.program == "linux" else windows_drivers)(world, drivers)
            for kind, action, gap in kinds:
                if args.kinds is None or kind in args.kinds.split(","):
                    drivers.run(kind, action, gap)
        while (failure is None and drivers.total() < args.events and
               (args.minutes is None or time.monotonic() - started < args.minutes * 60)):
            failure = soak["not_answering"](world)
            if failure is None and drivers.failure:
                failure = drivers.failure + "; " + (soak["not_answering"](world)
                                                    or "the program answers")
            if failure is not None:
                break
            drivers.pause()
            rss, fds, cpu = soak["sample"](world.pid)
            heap, heap_size, _ = soak["heap_pages"](world.pid)
            drivers.go.set()
            rows.append((drivers.total(), rss, fds, cpu, world.handles(), heap))
            maps.append(soak["mappings"](world.pid))
            print(f"{rows[-1][0]:8d} events  {(time.monotonic() - started) / 60:6.1f} min  "
                  f"{rss} KiB  {fds} descriptors  {cpu:.1f} s  (heap {heap} of {heap_size} KiB)"
                  f"  {dict(sorted(drivers.counts.items()))}", flush=True)
            drivers.stop.wait(SAMPLE_SECONDS)
    finally:
        drivers.end()
        for server in getattr(drivers, "servers", {}).values():
            server.close()
        time.sleep(3)  # the events under way end
        if not world.stop():
            failure = failure or "the program did not end when told to"
    lines = []
    if os.path.exists(log):
        with open(log, encoding="utf-8", errors="replace") as f:
            lines = [line.rstrip("\r\n").split(" - ", 1)[-1] for line in f]
    if failure is None:
        failure = soak["check_log"](lines)
    if failure is None and lines[-1:] != ["Finish WorkThread!!"]:
        failure = "the log does not end with the worker's finish"
    slope = slope_per_events(rows)
    if slope is not None:
        grown = soak["grew_most"](maps[next(i for i, r in enumerate(rows)
                                             if r[0] >= rows[-1][0] / 3)], maps[-1])
        print(f"memory after the warm-up: {slope:+.2f} KiB per {PER_EVENTS} events "
              f"(limit {PAGE_KIB}), {rows[-1][0]} events in "
              f"{(time.monotonic() - started) / 60:.0f} minutes: "
              f"{dict(sorted(drivers.counts.items()))}; grew most: {grown}", flush=True)
        if failure is None and slope > PAGE_KIB:
            failure = (f"memory climbs {slope:.2f} KiB per {PER_EVENTS} events (limit {PAGE_KIB});"
                       f" grew most: {grown}")
    elif failure is None:
        failure = "too few samples after the warm-up to tell"
    with open(os.path.join(out, "events.csv"), "w", encoding="utf-8") as f:
        f.write("events,rss_kib,descriptors,cpu_seconds,handles,heap_kib\n")
        for r in rows:
            f.write(",".join("" if v is None else str(v) for v in r) + "\n")
    soak["plot"](rows, args.program, os.path.join(out, "events.png"), "events",
                 "soak in compressed time")
    if os.path.exists(log):
        shutil.copy(log, os.path.join(out, "events.log"))
    shutil.rmtree(work, ignore_errors=True)
    if failure:
        soak["print_failure"](failure, lines[-12:])
        return 1
    print(f"soak passed: {len(rows)} samples", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
