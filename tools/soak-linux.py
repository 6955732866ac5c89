#!/usr/bin/python3
"""Soak of the native Linux program: runs build/linux/dozerin on a stand-in desktop for a set
time while the world keeps changing (a watched program and a watched window coming and going,
the pointer moving, the settings dialog opened and closed with OK and Cancel, suspend and resume,
the tray restarting). Every minute it records the program's memory, descriptors and processor
time. It fails when the program dies or stops answering, when the log breaks its order, or when
a series keeps climbing; it writes soak.csv and soak.png (the series over time) into --out.
Usage: soak-linux.py [--minutes M] [--out DIR] [--program PATH]"""
import argparse
import importlib.util
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location("mock_desktop", os.path.join(HERE, "mock-desktop.py"))
mock_desktop = importlib.util.module_from_spec(spec)
spec.loader.exec_module(mock_desktop)

KNOWN = {"Start WorkThread!!", "Finish WorkThread!!", "Set STATE_BUSY", "Set STATE_MARGIN",
         "Set ES_SYSTEM_REQUIRED", "Set ES_DISPLAY_REQUIRED", "Event KIND_CPU",
         "Event KIND_NETWORK", "Event KIND_PROCESS", "Event KIND_WINDOW", "Event KIND_MOUSE"}


def sample(pid):
    with open(f"/proc/{pid}/status", encoding="utf-8") as f:
        rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    with open(f"/proc/{pid}/stat", encoding="utf-8") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    return rss, fds, cpu


def climbing(series):
    """A series keeps climbing when every one of its last five steps rose and the last value is
    more than a tenth above the first half's highest."""
    if len(series) < 8:
        return False
    tail = series[-6:]
    half = max(series[: len(series) // 2])
    return all(b > a for a, b in zip(tail, tail[1:])) and tail[-1] > half * 1.1


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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--out", default="build/soak-linux")
    parser.add_argument("--program", default="build/linux/dozerin")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    desktop = mock_desktop.Desktop()
    work = tempfile.mkdtemp(prefix="dozerin-soak-")
    os.chmod(work, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=work, QT_QPA_PLATFORM="xcb", LANG="C.UTF-8")
    exe = os.path.join(work, "dozerin")
    shutil.copy(args.program, exe)
    helper = os.path.join(work, "soak-helper")
    shutil.copy("/bin/sleep", helper)
    with open(os.path.join(work, "dozerin.ini"), "w", encoding="utf-8") as f:
        f.write("[GENERAL]\nLog=1\nMouseCap=1\nMaxMargin=5\nBusyDisplay=1\nSetMarginOnWakeup=1\n"
                "[PROCESS]\n0=soak-helper\n[WINDOW]\n0=*soak window*\n")
    log = os.path.join(work, "dozerin.log")

    def spawn(argv):
        return subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def run(argv):
        subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=False, timeout=20)

    def lines():
        with open(log, encoding="utf-8", errors="replace") as f:
            return [line.rstrip("\n").split(" - ", 1)[-1] for line in f]

    def tray():
        return spawn(["trayer", "--edge", "top", "--align", "left", "--widthtype", "pixel",
                      "--width", "60", "--heighttype", "pixel", "--height", "32",
                      "--expand", "false"])

    trayer = tray()
    time.sleep(1)
    program = spawn([exe])
    children = []
    rows = []
    failure = None
    start = time.monotonic()
    next_sample = start + 10  # after start-up
    random.seed(1)
    try:
        while time.monotonic() - start < args.minutes * 60 and failure is None:
            if program.poll() is not None:
                failure = f"the program ended with {program.returncode}"
                break
            if time.monotonic() >= next_sample:
                rss, fds, cpu = sample(program.pid)
                rows.append((round((time.monotonic() - start) / 60, 2), rss, fds, cpu))
                print(f"{rows[-1][0]:6.2f} min  {rss} KiB  {fds} descriptors  {cpu:.2f} s",
                      flush=True)
                next_sample += 60
            action = random.randrange(7)
            if action == 0:  # a watched program starts; the program must notice within seconds
                before = lines().count("Event KIND_PROCESS")
                children.append(spawn([helper, str(random.randint(2, 8))]))
                end = time.monotonic() + 10
                while lines().count("Event KIND_PROCESS") == before and time.monotonic() < end:
                    time.sleep(0.2)
                if lines().count("Event KIND_PROCESS") == before:
                    failure = "no answer: a watched program was not reported"
            elif action == 1:
                children.append(spawn(["timeout", str(random.randint(2, 8)), "xmessage",
                                       "-title", f"soak window {random.randint(1, 99)}", "x"]))
            elif action == 2:
                run(["xdotool", "mousemove", str(random.randint(100, 1000)),
                     str(random.randint(100, 700))])
            elif action == 3:  # the settings dialog, closed with OK or Cancel
                run(["xdotool", "mousemove", "14", "16", "click", "--repeat", "2", "--delay",
                     "80", "1"])
                time.sleep(1)
                found = subprocess.run(["xdotool", "search", "--name", "^Dozerin$"], env=env,
                                       capture_output=True, text=True, check=False).stdout.split()
                if found:
                    run(["xdotool", "windowfocus", "--sync", found[0]])
                    run(["xdotool", "key", random.choice(["Return", "Escape"])])
            elif action == 4:  # suspend and resume
                desktop.sleep_signal(True)
                time.sleep(1)
                desktop.sleep_signal(False)
            elif action == 5:  # the tray restarts
                trayer.terminate()
                trayer.wait()
                trayer = tray()
            children = [c for c in children if c.poll() is None]
            time.sleep(random.uniform(1, 4))
    finally:
        for c in children:
            c.kill()
        if program.poll() is None:
            program.send_signal(signal.SIGTERM)
            try:
                program.wait(timeout=15)
            except subprocess.TimeoutExpired:
                program.kill()
                failure = failure or "the program did not end on SIGTERM"
        trayer.terminate()
        desktop.stop()

    if failure is None:
        failure = check_log(lines())
    if failure is None and lines()[-1:] != ["Finish WorkThread!!"]:
        failure = "the log does not end with the worker's finish"
    per_minute_cpu = [b[3] - a[3] for a, b in zip(rows, rows[1:])]
    for name, series in (("memory", [r[1] for r in rows]), ("descriptors", [r[2] for r in rows]),
                         ("processor time per minute", per_minute_cpu)):
        if failure is None and climbing(series):
            failure = f"{name} keeps climbing: {series}"
    with open(os.path.join(args.out, "soak.csv"), "w", encoding="utf-8") as f:
        f.write("minutes,rss_kib,descriptors,cpu_seconds\n")
        for r in rows:
            f.write(",".join(str(v) for v in r) + "\n")
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        fig, axes = plt.subplots(3, 1, figsize=(8, 7), sharex=True)
        minutes = [r[0] for r in rows]
        for ax, values, label in zip(axes, ([r[1] for r in rows], [r[2] for r in rows],
                                            [r[3] for r in rows]),
                                     ("memory (KiB)", "descriptors", "processor time (s)")):
            ax.plot(minutes, values, marker="o")
            ax.set_ylabel(label)
            ax.grid(True)
        axes[-1].set_xlabel("minutes")
        fig.suptitle("dozerin (Linux) soak")
        fig.savefig(os.path.join(args.out, "soak.png"), dpi=80)
    except ImportError:
        print("no matplotlib: no plot", file=sys.stderr)
    shutil.rmtree(work, ignore_errors=True)
    if failure:
        print("soak failed: " + failure, file=sys.stderr)
        return 1
    print(f"soak passed: {len(rows)} samples over {args.minutes} minutes", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
