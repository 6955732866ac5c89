#!/usr/bin/python3
"""Soak of the real programs: the native Linux program on a stand-in desktop (--program linux),
or dozerin.exe under Wine on a virtual display (--program windows), for a set time while the world
keeps changing: a watched program and a watched window coming and going, the pointer moving, the
settings opened and closed with OK and Cancel, suspend and resume, the tray or taskbar restarting.
Holds by hand start and stop through later starts with --keep-awake.
Every minute it records the program's memory, descriptors (and, under Wine, Windows handles) and
processor time. It fails when the program dies or stops answering, when the log breaks its
order, or when a series keeps climbing; it writes soak.csv and soak.png into --out.
With --flat-memory it also fails when memory climbs after the warm-up (see memory_slope and
goes_on).
Usage: soak.py [--program linux|windows] [--minutes M] [--out DIR] [--exe PROGRAM] [--flat-memory]
                [--warm-up-dialogs N]
                [--actions program,window,pointer,settings,suspend,tray,hold]"""
import argparse
import contextlib
import glob
import os
import random
import re
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
Desktop = runpy.run_path(os.path.join(HERE, "mock-desktop.py"))["Desktop"]

KNOWN = {"Start WorkThread!!", "Finish WorkThread!!", "Set STATE_BUSY", "Set STATE_MARGIN",
         "Set ES_SYSTEM_REQUIRED", "Set ES_DISPLAY_REQUIRED", "Event KIND_CPU",
         "Event KIND_NETWORK", "Event KIND_PROCESS", "Event KIND_WINDOW", "Event KIND_MOUSE",
         "Event KIND_MANUAL",
         "Set Enable ES_AWAYMODE_REQUIRED|ES_CONTINUOUS", "Set ES_CONTINUOUS"}


ACTIONS = ("program", "window", "pointer", "settings", "suspend", "tray", "hold")


def sample(pid):
    with open(f"/proc/{pid}/status", encoding="utf-8") as f:
        rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    with open(f"/proc/{pid}/stat", encoding="utf-8") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    return rss, fds, cpu


def heap_pages(pid):
    """The [heap] mapping's resident and whole size in KiB, and the resident pages of mapped files:
    a climb within a heap that keeps its size, or in files, is pages touched for the first time."""
    resident = size = files = 0
    mapping = None
    with open(f"/proc/{pid}/smaps", encoding="utf-8") as f:
        for line in f:
            fields = line.split()
            if "-" in fields[0] and len(fields) >= 5:
                start, end = (int(a, 16) for a in fields[0].split("-"))
                mapping = fields[5] if len(fields) > 5 else ""
                if mapping == "[heap]":
                    size += (end - start) // 1024
            elif fields[0] == "Rss:":
                if mapping == "[heap]":
                    resident += int(fields[1])
                elif mapping.startswith("/"):
                    files += int(fields[1])
    return resident, size, files


def mappings(pid):
    """The resident KiB of each mapping, by its start and what it maps (a file, [heap], or
    nothing: the anonymous memory that holds Wine's heaps and Qt's thread arenas)."""
    resident = {}
    key = None
    with open(f"/proc/{pid}/smaps", encoding="utf-8") as f:
        for line in f:
            fields = line.split()
            if "-" in fields[0] and len(fields) >= 5:
                key = (fields[0].split("-")[0], fields[5] if len(fields) > 5 else "anonymous")
            elif fields[0] == "Rss:" and key is not None:
                resident[key] = int(fields[1])
    return resident


def grew_most(before, after, most=4):
    """Where memory grew between two readings of mappings(): the mappings that grew most, for a
    climb's report."""
    grown = sorted(((after.get(k, 0) - before.get(k, 0), k) for k in set(before) | set(after)),
                   reverse=True)
    return ", ".join(f"{start} {name} {kib:+d} KiB" for kib, (start, name) in grown[:most]
                     if kib > 0) or "no mapping grew"


def climbing(series):
    """A series keeps climbing when every one of its last five steps rose and the last value is
    more than a tenth above the first half's highest."""
    if len(series) < 8:
        return False
    tail = series[-6:]
    half = max(series[: len(series) // 2])
    return all(b > a for a, b in zip(tail, tail[1:])) and tail[-1] > half * 1.1


# Memory once warmed up must stay flat: the least-squares slope of the samples after the warm-up
# (the first third of the run, at least three minutes) stays under 20 KiB an hour. A short run
# cannot tell that from a page or two of noise, so its limit is three pages over the time it
# measured (about 100 KiB an hour for ten minutes), which a climb of 300 KiB an hour still breaks.
SLOPE_LIMIT_KIB_AN_HOUR = 20


def after_warm_up(rows, minutes):
    """The samples after the warm-up (the first third of the run, at least three minutes) as
    hours and KiB."""
    return [(r[0] / 60, r[1]) for r in rows if r[0] >= max(3.0, minutes / 3)]


def memory_slope(rows, minutes):
    """The slope of memory after the warm-up in KiB an hour, and the limit it is held to; None
    when there are too few samples to tell."""
    kept = after_warm_up(rows, minutes)
    if len(kept) < 4:
        return None, None
    mean_t = sum(t for t, _ in kept) / len(kept)
    mean_m = sum(m for _, m in kept) / len(kept)
    spread = sum((t - mean_t) ** 2 for t, _ in kept)
    slope = sum((t - mean_t) * (m - mean_m) for t, m in kept) / spread
    return slope, max(SLOPE_LIMIT_KIB_AN_HOUR, 3 * 4 / (kept[-1][0] - kept[0][0]))


def goes_on(rows, minutes, limit):
    """Whether memory after the warm-up rose in both halves of that time, each by at least half
    of what the limit allows over the whole. One step and then none (one more thread arena, or a
    heap reaching a new high mark, more often on a loaded machine) breaks a short run's slope but
    is no climb; a leak rises in both halves."""
    kept = after_warm_up(rows, minutes)
    middle = len(kept) // 2
    enough = limit * (kept[-1][0] - kept[0][0]) / 2
    return all(half[-1][1] - half[0][1] >= enough for half in (kept[: middle + 1], kept[middle:]))


def run_text(argv, env=None):
    """What a diagnostic command printed, or why it printed nothing."""
    try:
        done = subprocess.run(argv, env=env, capture_output=True, text=True, errors="replace",
                              check=False, timeout=120)
        return (done.stdout + done.stderr).strip() or f"{argv[0]} printed nothing"
    except (OSError, subprocess.TimeoutExpired) as e:
        return f"{argv[0]} gave nothing: {e}"


def gdb_backtraces(pid):
    return run_text(["gdb", "-p", str(pid), "-batch", "-ex", "thread apply all bt"])


def ended_how(code):
    return f"killed by {signal.Signals(-code).name}" if code < 0 else f"exit code {code}"


def not_answering(world, ask=True):
    """None while the program runs and answers (asked only with ask); else whether it ended or
    hung, with what tells why: the exit code or the backtraces of its threads, and what around it
    still ran."""
    if world.program.poll() is None and (not ask or world.answers()):
        return None
    code = world.program.poll()
    if code is None:
        traces = world.backtraces()
        code = world.program.poll()  # it may have been ending while it did not answer
        if code is None:
            return (f"the program did not answer within {world.answer_seconds} s; "
                    f"{world.surroundings()}\nthe backtraces of its threads:\n{traces}"
                    f"{world.crash_details()}")
    return f"the program ended ({ended_how(code)}); {world.surroundings()}{world.crash_details()}"


def print_failure(failure, tail):
    """What came with the failure (backtraces), then the program's last log lines, then the
    reason, last, where a shortened output still shows them."""
    reason, _, details = failure.partition("\n")
    if details:
        print(details, file=sys.stderr)
    print("the log's last lines:", *tail, sep="\n  ", file=sys.stderr)
    print("soak failed: " + reason, file=sys.stderr)


def check_log(lines):
    running = False
    for n, line in enumerate(lines):
        if line not in KNOWN:
            return f"line {n + 1} is not a known entry: {line!r}"
        if line == "Start WorkThread!!":
            if running:
                return f"line {n + 1}: a second start without a finish"
            running = True
        elif line == "Finish WorkThread!!":
            if not running:
                return f"line {n + 1}: a finish without a start"
            running = False
    return None


class LinuxWorld:
    """build/linux/dozerin on the stand-in desktop, with trayer as its tray."""

    def __init__(self, work, program=None):
        self.desktop = Desktop()
        self.env = dict(os.environ, XDG_RUNTIME_DIR=work, QT_QPA_PLATFORM="xcb", LANG="C.UTF-8")
        # Started as the autostart entry starts it, unless the caller sets tunables of its own
        # ("glibc.malloc.tcache_count=7" soaks it with the thread cache on).
        self.env.setdefault("GLIBC_TUNABLES", "glibc.malloc.tcache_count=0")
        exe = os.path.join(work, "dozerin")
        shutil.copy(program or os.path.join(ROOT, "build/linux/dozerin"), exe)
        self.helper = os.path.join(work, "soak-helper")
        shutil.copy("/bin/sleep", self.helper)
        with open(os.path.join(work, "dozerin.ini"), "w", encoding="utf-8") as f:
            f.write("[GENERAL]\nLog=1\nMouseCap=1\nMaxMargin=5\nBusyDisplay=1\n"
                    "SetMarginOnWakeup=1\n[PROCESS]\n0=soak-helper\n[WINDOW]\n0=*soak window*\n")
        self.trayer = self.tray()
        time.sleep(1)
        self.exe = exe
        self.program = self.spawn([exe])
        self.pid = self.program.pid

    def spawn(self, argv):
        return subprocess.Popen(argv, env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def run(self, argv):
        subprocess.run(argv, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=False, timeout=30)

    def tray(self):
        return self.spawn(["trayer", "--edge", "top", "--align", "left", "--widthtype", "pixel",
                           "--width", "60", "--heighttype", "pixel", "--height", "32",
                           "--expand", "false"])

    answer_seconds = 20
    ask_every_pass = False  # a bus call at each pass would be most of what the program does

    def answers(self):
        try:
            return subprocess.run([self.exe, "--status"], env=self.env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, check=False,
                                  timeout=self.answer_seconds).returncode == 0
        except subprocess.TimeoutExpired:
            return False

    def surroundings(self):
        gone = self.desktop.gone()
        return ("the stand-in desktop was still running" if not gone
                else "gone from the stand-in desktop: " + ", ".join(gone))

    def backtraces(self):
        return gdb_backtraces(self.pid)

    def crash_details(self):
        return ""

    def started_again(self, _):
        return False

    def keep_awake(self, value):
        """The request start's exit code (-1 when it did not end in time) and what it printed."""
        try:
            done = subprocess.run([self.exe, "--keep-awake=" + value], env=self.env,
                                  capture_output=True, text=True, errors="replace", check=False,
                                  timeout=30)
            return done.returncode, (done.stdout + done.stderr).strip()
        except subprocess.TimeoutExpired:
            return -1, ""

    def handles(self):
        return None

    def start_watched(self, seconds):
        return self.spawn([self.helper, str(seconds)])

    def start_window(self, seconds):
        return self.spawn(["timeout", str(seconds), "xmessage", "-title",
                           f"soak window {random.randint(1, 99)}", "x"])

    def move_pointer(self):
        self.run(["xdotool", "mousemove", str(random.randint(100, 1000)),
                  str(random.randint(100, 700))])

    def settings(self, ok):
        self.run(["xdotool", "mousemove", "14", "16", "click", "--repeat", "2", "--delay", "80",
                  "1"])
        time.sleep(1)
        found = subprocess.run(["xdotool", "search", "--name", "^Dozerin$"], env=self.env,
                               capture_output=True, text=True, check=False).stdout.split()
        if found:
            self.run(["xdotool", "windowfocus", "--sync", found[0]])
            self.run(["xdotool", "key", "Return" if ok else "Escape"])

    def suspend_and_resume(self):
        self.desktop.sleep_signal(True)
        time.sleep(1)
        self.desktop.sleep_signal(False)

    def restart_tray(self):
        self.trayer.terminate()
        self.trayer.wait()
        self.trayer = self.tray()

    def stop(self):
        """Ends the program as the system would; False when it would not end."""
        ended = True
        if self.program.poll() is None:
            self.program.send_signal(signal.SIGTERM)
            try:
                self.program.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.program.kill()
                ended = False
        self.trayer.terminate()
        self.desktop.stop()
        return ended


class WindowsWorld:
    """dozerin.exe under Wine on its own virtual display, in a copy of the end-to-end tests'
    prefix in the work folder: its wineserver is the soak's alone, and no other run's
    `wineserver -k` reaches it. The soak starts that wineserver itself, in the foreground, so that
    when it ends how it ended and what it printed are known."""

    # A busy machine can hold up one of poke's pings (5 s each); a hung program does not answer
    # any of those sent over a minute.
    answer_seconds = 60
    ask_every_pass = True

    def __init__(self, work, program=None):
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp"], stdout=subprocess.PIPE,
                                     start_new_session=True)
        build = os.path.join(ROOT, "build/windows")
        self.prefix = os.path.join(work, "wine")
        if os.path.isdir(os.path.join(build, "wine-e2e")):
            subprocess.run(["cp", "-a", "--reflink=auto", os.path.join(build, "wine-e2e"),
                            self.prefix], check=True)
            # Where Debian's Wine keeps the name of the tests' server folder: the copy's server
            # gets one of its own.
            with contextlib.suppress(FileNotFoundError):
                os.remove(os.path.join(self.prefix, "wineserver"))
        self.env = dict(os.environ, DISPLAY=":" + self.xvfb.stdout.readline().decode().strip(),
                        DOZERIN_WINEPREFIX=self.prefix,
                        WINEDEBUG="-all,err+virtual")  # to tell a start Wine gave up on
        self.server_env = dict(self.env, WINEPREFIX=self.prefix)
        if not os.path.isdir(self.prefix):  # made by its first use, and its server left to end
            subprocess.run([os.path.join(ROOT, "cmake/wine-run.sh"), "wineboot"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
            subprocess.run(["wineserver", "-w"], env=self.server_env, check=False)
        self.server_output = os.path.join(work, "wineserver.out")
        with open(self.server_output, "wb") as f:
            # With core dumps allowed it dumps core when it crashes, in its folder. It waits for
            # its first program, and ends with its last, as a server Wine starts does.
            self.server = subprocess.Popen(
                ["sh", "-c", "ulimit -c unlimited; exec wineserver --foreground --persistent=0"],
                env=self.server_env, stdout=f, stderr=f, start_new_session=True)
        # Its socket, before any program looks for a server and starts one of its own. It
        # works in its own folder, whose place depends on how Wine was built.
        self.server_exe = self.server_folder = None
        end = time.monotonic() + 30
        while self.server.poll() is None and time.monotonic() < end:
            try:
                folder = os.readlink(f"/proc/{self.server.pid}/cwd")
                if os.path.exists(os.path.join(folder, "socket")):
                    self.server_folder = folder
                    self.server_exe = os.readlink(f"/proc/{self.server.pid}/exe")
                    break
            except OSError:
                pass
            time.sleep(0.1)
        shutil.copy(program or os.path.join(build, "dozerin.exe"), os.path.join(work, "dozerin.exe"))
        self.exe = "Z:" + os.path.join(work, "dozerin.exe").replace("/", "\\")
        self.poke_exe = os.path.join(build, "tests/e2e/poke.exe")
        self.watchme = os.path.join(build, "tests/e2e/watchme.exe")
        with open(os.path.join(work, "dozerin.ini"), "w", encoding="utf-8") as f:
            f.write("[GENERAL]\r\nLog=1\r\nMouseCap=1\r\nMaxMargin=5\r\nBusyDisplay=1\r\n"
                    "SetMarginOnWakeup=1\r\n[PROCESS]\r\n0=watchme.exe\r\n"
                    "[WINDOW]\r\n0=*Watch Me*\r\n")
        end = time.monotonic() + 120  # a new prefix takes a while
        for _ in range(3):
            self.program = self.wine([self.exe])
            while (self.poke("ping") != 0 and self.program.poll() is None and
                   time.monotonic() < end):
                time.sleep(1)
            if not self.started_again(self.program):
                break
        self.pid = self.find_pid()

    def wine(self, argv, out=subprocess.DEVNULL):
        """Starts a Windows program; what it prints on its error output is kept in a file."""
        errors = tempfile.TemporaryFile()
        p = subprocess.Popen([os.path.join(ROOT, "cmake/wine-run.sh")] + argv, env=self.env,
                             stdout=out, stderr=errors)
        p.errors = errors
        return p

    # Now and then Wine's loader cannot lay out a new process's memory and gives up before any
    # of the program runs: "err:virtual:virtual_alloc_first_teb wine: failed to map the shared
    # user data: c0000018", exit code 1, about one start in 400 here. Such a start is made again,
    # and said; a failure of the program itself is not.
    loader_gave_up = re.compile(r"^err:virtual:\S+ wine: (.*)$", re.MULTILINE)

    def printed(self, p):
        p.errors.seek(0)
        return p.errors.read().decode(errors="replace").strip()

    def started_again(self, p):
        """Whether the ended start p is one Wine's loader gave up on, said when so: then it is
        made again."""
        gave_up = self.loader_gave_up.search(self.printed(p)) if p.poll() == 1 else None
        if gave_up is not None:
            name = re.split(r"[\\/]", p.args[1])[-1]
            print(f"Wine's loader gave up on a start of {name}: {gave_up.group(1)}", flush=True)
        return gave_up is not None

    def run_to_end(self, argv, timeout=60):
        """Runs a short Windows program to its end: its exit code (-1 when it did not end in
        time), its output and what it printed on its error output."""
        # Output through a file: Wine's own background processes keep a pipe open for ever.
        with tempfile.TemporaryFile() as out:
            for _ in range(3):
                out.seek(0)
                out.truncate()
                p = self.wine(argv, out)
                try:
                    p.wait(timeout=timeout)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
                    code = -1
                    break
                code = p.returncode
                if not self.started_again(p):
                    break
            out.seek(0)
            output = out.read().decode(errors="replace")
        return code, output, self.printed(p)

    def poke(self, *args):
        self.last_code, self.last_output, _ = self.run_to_end([self.poke_exe, *args])
        return self.last_code

    def find_pid(self):
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    command = f.read()
                # The Wine process of this copy of the program, not the shell that started it
                # nor a copy another soak runs.
                if command.split(b"\0")[0] == self.exe.encode():
                    return int(entry)
            except OSError:
                pass
        return None

    def answers(self):
        asked = time.monotonic()
        pings = 0
        while self.program.poll() is None and time.monotonic() - asked < self.answer_seconds:
            pings += 1
            if self.poke("ping") == 0:
                if pings > 1:  # a stall is worth seeing even when it ends
                    print(f"the program answered only after {time.monotonic() - asked:.0f} s "
                          f"({pings} pings)", flush=True)
                return True
            time.sleep(1)
        return False

    def surroundings(self):
        said = {0: "answered", 1: "failed (its window did not answer within 5 s, or Wine failed)",
                3: "found no window of it", -1: "did not end within 60 s"}
        code = self.server.poll()
        if code is None:
            server = "still running"
        else:
            with open(self.server_output, encoding="utf-8", errors="replace") as f:
                printed = f.read().strip()[-2000:]
            server = f"gone ({ended_how(code)}; it printed {printed or 'nothing'!r})"
        poke = said.get(self.last_code, f"gave {self.last_code}")
        xvfb = "still running" if self.xvfb.poll() is None else "gone"
        own = self.printed(self.program)[-1000:]  # Wine's errors in the program's process
        return (f"the last poke {poke}; its wineserver {server}; its Xvfb {xvfb}" +
                (f"; the program printed {own!r}" if own else ""))

    def crash_details(self):
        if self.server.poll() is None or self.server_folder is None:
            return ""
        cores = glob.glob(os.path.join(self.server_folder, "core*"))
        if not cores:
            return ""
        return "\nwhere its wineserver crashed:\n" + run_text(
            ["gdb", "-batch", "-ex", "bt", self.server_exe, cores[0]])

    def backtraces(self):
        # Without its wineserver, winedbg would start a new one that knows nothing of the program:
        # then the Unix side of the program's process is all there is to see.
        if self.server.poll() is not None:
            return gdb_backtraces(self.pid)
        every = run_text([os.path.join(ROOT, "cmake/wine-run.sh"), "winedbg", "--command",
                          "bt all"], env=dict(self.env, WINEDEBUG="-all"))
        # Those of the program's process alone: Wine's own processes would bury them.
        blocks = re.split(r"\n(?=Backtracing for thread )", every)
        mine = [b for b in blocks if re.match(r"Backtracing for thread \w+ in process \w+ "
                                              r"\([^)]*dozerin\.exe\)", b)]
        return "\n".join(mine) or every

    def keep_awake(self, value):
        """The request start's exit code (-1 when it did not end in time) and what it printed."""
        code, output, printed = self.run_to_end([self.exe, "--keep-awake=" + value])
        return code, (output.strip() + "\n" + printed).strip()

    def handles(self):
        # Wine answers 0 for any process: then there is no figure.
        count = int(self.last_output.strip() or 0) if self.poke("handles") == 0 else 0
        return count if count > 0 else None

    def start_watched(self, seconds):
        p = self.wine([self.watchme])
        # A Windows program takes a few seconds to start under Wine: its life counts from then.
        threading.Timer(seconds + 8, p.kill).start()
        return p

    def start_window(self, seconds):
        return self.start_watched(seconds)

    def move_pointer(self):
        self.poke("cursor", str(random.randint(100, 1000)), str(random.randint(100, 700)))

    def settings(self, ok):
        self.poke("sheet", "ok" if ok else "cancel")

    def suspend_and_resume(self):
        self.poke("suspend")
        time.sleep(1)
        self.poke("resume")

    def restart_tray(self):
        self.poke("taskbar")

    def stop(self):
        self.poke("close")
        try:
            self.program.wait(timeout=20)  # the shell that started it became the program
            ended = True
        except subprocess.TimeoutExpired:
            ended = False
            self.program.kill()  # without its wineserver a thread of it may wait for ever
        subprocess.run(["wineserver", "-k"], env=self.server_env, check=False)
        try:
            self.server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.server.kill()
            self.server.wait()
        self.xvfb.terminate()
        return ended


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", choices=("linux", "windows"), default="linux")
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--out", default=None)
    # Another build of the program, to compare it with this one's.
    parser.add_argument("--exe", default=None, help="the program to soak instead of the build's")
    # The slope is printed either way.
    parser.add_argument("--flat-memory", action="store_true",
                        help="fail when memory climbs faster than the limit after the warm-up")
    # Settings opened and closed first leave the dialog's first growth, and under Wine Wine's own
    # first minutes, out of what the run measures.
    parser.add_argument("--warm-up-dialogs", type=int, default=0,
                        help="open and close the settings this many times before the run")
    # To tell which kind of change a climb comes with: only some of the actions.
    parser.add_argument("--actions", default=",".join(ACTIONS),
                        help="the actions to take, of " + ",".join(ACTIONS))
    args = parser.parse_args()
    unknown = [a for a in args.actions.split(",") if a not in ACTIONS]
    if unknown:
        parser.error(f"--actions: {','.join(unknown)} is not one of {','.join(ACTIONS)}")
    actions = [ACTIONS.index(a) for a in args.actions.split(",")]
    out = args.out or os.path.join(ROOT, "build", "soak-" + args.program)
    os.makedirs(out, exist_ok=True)
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    work = tempfile.mkdtemp(prefix="dozerin-soak-")
    os.chmod(work, 0o700)
    log = os.path.join(work, "dozerin.log")
    world = (LinuxWorld if args.program == "linux" else WindowsWorld)(work, args.exe)

    def lines():
        try:
            with open(log, encoding="utf-8", errors="replace") as f:
                return [line.rstrip("\r\n").split(" - ", 1)[-1] for line in f]
        except FileNotFoundError:
            return []

    children = []
    rows = []
    maps = []  # mappings() at each sample, to tell where a climb lies
    failure = None if world.pid is not None else "the program did not start"
    for n in range(args.warm_up_dialogs if failure is None else 0):
        world.settings(ok=n % 2 == 0)
        failure = not_answering(world)
        if failure is not None:
            failure = "while warming up, " + failure
            break
    start = time.monotonic()
    next_sample = start + 10  # after start-up
    random.seed(1)
    recent = []  # the last actions, for a failure's report
    try:
        while failure is None and time.monotonic() - start < args.minutes * 60:
            failure = not_answering(world, world.ask_every_pass or time.monotonic() >= next_sample)
            if failure is not None:
                break
            if time.monotonic() >= next_sample:
                rss, fds, cpu = sample(world.pid)
                handles = world.handles()
                rows.append((round((time.monotonic() - start) / 60, 2), rss, fds, cpu, handles))
                maps.append(mappings(world.pid))
                heap, heap_size, files = heap_pages(world.pid)
                print(f"{rows[-1][0]:6.2f} min  {rss} KiB  {fds} descriptors  "
                      f"{handles if handles is not None else '-'} handles  {cpu:.2f} s  "
                      f"(heap {heap} of {heap_size} KiB, files {files} KiB)", flush=True)
                next_sample += 60
            action = random.choice(actions)
            recent = (recent + [action])[-6:]
            if action == 0:  # a watched program starts; the program must notice within seconds
                before = lines().count("Event KIND_PROCESS")
                for _ in range(3):
                    children.append(world.start_watched(random.randint(3, 8)))
                    end = time.monotonic() + 15
                    while (lines().count("Event KIND_PROCESS") == before and
                           time.monotonic() < end and children[-1].poll() != 1):
                        time.sleep(0.2)
                    if not world.started_again(children[-1]):
                        break
                if lines().count("Event KIND_PROCESS") == before:
                    failure = ("no answer: a watched program was not reported; " +
                               (not_answering(world) or "the program answers"))
            elif action == 1:
                children.append(world.start_window(random.randint(3, 8)))
            elif action == 2:
                world.move_pointer()
            elif action == 3:
                world.settings(ok=random.random() < 0.5)
            elif action == 4:
                world.suspend_and_resume()
            elif action == 5:
                world.restart_tray()
            elif action == 6:  # a hold by hand started or stopped by another start
                value = random.choice(["20s", "1m", "off"])
                asked = time.monotonic()
                code, printed = world.keep_awake(value)
                if code != 0:
                    failure = (f"--keep-awake={value} was not taken (exit code {code}, after "
                               f"{time.monotonic() - asked:.1f} s, printing "
                               f"{printed[-500:] or 'nothing'!r}) at minute "
                               f"{(asked - start) / 60:.2f}; the last actions: {recent}; " +
                               (not_answering(world) or "the program answers"))
            children = [c for c in children if c.poll() is None]
            time.sleep(random.uniform(1, 4))
    finally:
        for c in children:
            c.kill()
        if not world.stop():
            failure = failure or "the program did not end when told to"

    if failure is None:
        failure = check_log(lines())
    if failure is None and lines()[-1:] != ["Finish WorkThread!!"]:
        failure = "the log does not end with the worker's finish"
    series = {"memory": [r[1] for r in rows], "descriptors": [r[2] for r in rows],
              "processor time per minute": [b[3] - a[3] for a, b in zip(rows, rows[1:])],
              "handles": [r[4] for r in rows if r[4] is not None]}
    for name, values in series.items():
        if failure is None and climbing(values):
            failure = f"{name} keeps climbing: {values}"
    slope, limit = memory_slope(rows, args.minutes)
    if slope is not None:
        grown = grew_most(maps[len(rows) - len(after_warm_up(rows, args.minutes))], maps[-1])
        climbs = slope > limit and goes_on(rows, args.minutes, limit)
        step = slope > limit and not climbs
        print(f"memory after the warm-up: {slope:+.0f} KiB an hour (limit {limit:.0f}"
              f"{'; one step, then flat' if step else ''}); grew most: {grown}", flush=True)
        if failure is None and args.flat_memory and climbs:
            failure = (f"memory climbs {slope:.0f} KiB an hour after the warm-up (limit "
                       f"{limit:.0f}); grew most: {grown}")
    with open(os.path.join(out, "soak.csv"), "w", encoding="utf-8") as f:
        f.write("minutes,rss_kib,descriptors,cpu_seconds,handles\n")
        for r in rows:
            f.write(",".join("" if v is None else str(v) for v in r) + "\n")
    plot(rows, args.program, os.path.join(out, "soak.png"))
    saved_tail = lines()[-12:]
    if os.path.exists(log):
        shutil.copy(log, os.path.join(out, "soak.log"))
    shutil.rmtree(work, ignore_errors=True)
    if failure:
        print_failure(failure, saved_tail)
        return 1
    print(f"soak passed: {len(rows)} samples over {args.minutes} minutes", flush=True)
    return 0


def plot(rows, program, path, across="minutes", title="soak"):
    """Memory, descriptors, processor time (and handles) against the first column of rows."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("no matplotlib: no plot", file=sys.stderr)
        return
    panels = [([r[1] for r in rows], "memory (KiB)"), ([r[2] for r in rows], "descriptors"),
              ([r[3] for r in rows], "processor time (s)")]
    if any(r[4] is not None for r in rows):
        panels.append(([r[4] for r in rows], "handles"))
    fig, axes = plt.subplots(len(panels), 1, figsize=(8, 2.3 * len(panels)), sharex=True)
    along = [r[0] for r in rows]
    for ax, (values, label) in zip(axes, panels):
        ax.plot(along, values, marker="o" if across == "minutes" else ".")
        ax.set_ylabel(label)
        ax.grid(True)
    axes[-1].set_xlabel(across)
    fig.suptitle(f"dozerin ({program}) {title}")
    fig.savefig(path, dpi=80)


if __name__ == "__main__":
    sys.exit(main())
