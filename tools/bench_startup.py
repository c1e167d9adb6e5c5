#!/usr/bin/python3
"""Start-up time of the control window against a bare window of the same size, run by hand.

Windows build under Wine (the default): morvandell.exe against build-windows/tools/bare_window.exe, both
started in one Wine session that is kept running (warm), in turns. Linux (--qt): the Qt program against
a bare Qt window (build/tools/bare_qt_window). Each start is timed from the moment the process is
started to the moment the X server shows its first viewable top-level window with the caption,
found by reading the X tree every 5 ms (xdotool --sync looks only every half second). Prints every
time, the medians and their ratio.

Needs an X display (run it under xvfb-run -a) and Debian's Python with python3-xlib.

Usage: xvfb-run -a tools/bench_startup.py [--runs N] [--qt] [--windows-build DIR] [--build DIR] [--program EXE]
On a machine shared with builds, run it as root under nice -n -15 (Xvfb, Wine and both programs then
share that priority); the figures still vary with the load, the medians less than single starts.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

try:
    from Xlib import X, display as xdisplay
    from Xlib.error import XError
except ImportError:
    sys.exit("bench_startup.py needs python3-xlib (apt-get install python3-xlib)")

POLL_S = 0.005
LIMIT_S = 30.0


def window_names(d, window):
    names = []
    try:
        name = window.get_wm_name()
        if name:
            names.append(name if isinstance(name, str) else name.decode("latin-1"))
        net = window.get_full_property(d.intern_atom("_NET_WM_NAME"), d.intern_atom("UTF8_STRING"))
        if net and net.value:
            names.append(bytes(net.value).decode("utf-8", "replace"))
    except XError:
        pass
    return names


def viewable_with_caption(d, caption):
    """A viewable top-level window (a child of the root, or one level below under a window manager)
    whose name starts with the caption."""
    root = d.screen().root
    try:
        children = root.query_tree().children
    except XError:
        return False
    for top in children:
        try:
            if top.get_attributes().map_state != X.IsViewable:
                continue
            candidates = [top] + list(top.query_tree().children)
        except XError:
            continue
        for window in candidates:
            if any(name.startswith(caption) for name in window_names(d, window)):
                return True
    return False


def time_start(d, command, caption, env):
    started = time.monotonic()
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    seen = None
    while time.monotonic() - started < LIMIT_S:
        if viewable_with_caption(d, caption):
            seen = time.monotonic() - started
            break
        if process.poll() is not None:
            break
        time.sleep(POLL_S)
    # The program alone: what it started for the session (Wine's desktop process) stays warm.
    process.kill()
    process.wait()
    # The window is gone before the next start.
    deadline = time.monotonic() + 5
    while viewable_with_caption(d, caption) and time.monotonic() < deadline:
        time.sleep(POLL_S)
    if seen is None:
        sys.exit(f"no window '{caption}' from {' '.join(command)} within {LIMIT_S:.0f} s")
    return seen


def measure(subjects, runs, env):
    d = xdisplay.Display()
    times = {name: [] for name, _, _ in subjects}
    for run in range(runs + 1):  # the first round warms up and is not counted
        order = subjects if run % 2 == 0 else list(reversed(subjects))
        for name, command, caption in order:
            t = time_start(d, command, caption, env)
            if run > 0:
                times[name].append(t)
        if run > 0:
            print("run %d: " % run + ", ".join(f"{name} {times[name][-1] * 1000:.0f} ms" for name, _, _ in subjects),
                  flush=True)
    medians = {name: statistics.median(values) for name, values in times.items()}
    (program, _, _), (bare, _, _) = subjects
    print(", ".join(f"median {name} {medians[name] * 1000:.0f} ms" for name, _, _ in subjects)
          + f": ratio {medians[program] / medians[bare]:.2f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--qt", action="store_true", help="the Qt program on Linux instead")
    parser.add_argument("--windows-build", default="build-windows")
    parser.add_argument("--build", default="build")
    parser.add_argument("--program", help="the program to time instead of the build's (to set another build against it)")
    args = parser.parse_args()
    if not os.environ.get("DISPLAY"):
        sys.exit("no X display: run it under xvfb-run -a")
    env = dict(os.environ)

    if args.qt:
        env.setdefault("QT_QPA_PLATFORM", "xcb")
        program = args.program or os.path.join(args.build, "app", "morvandell")
        subjects = [("Qt program", [program], "Morvandell:"),
                    ("bare Qt window", [os.path.join(args.build, "tools", "bare_qt_window")], "Bare window")]
        measure(subjects, args.runs, env)
        return

    wine_dir = "/usr/lib/wine"
    wine = os.path.join(wine_dir, "wine64")
    wineserver = os.path.join(wine_dir, "wineserver")
    build = os.path.abspath(args.windows_build)
    with tempfile.TemporaryDirectory(prefix="bench_startup.") as prefix:
        env.update(WINEPREFIX=prefix, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d")
        # One Wine session for every start, up before the first is timed.
        subprocess.run([wineserver, "-p"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([wine, "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            program = os.path.abspath(args.program) if args.program else os.path.join(build, "morvandell.exe")
            subjects = [("morvandell.exe", [wine, program], "Morvandell:"),
                        ("bare window", [wine, os.path.join(build, "tools", "bare_window.exe")], "Bare window")]
            measure(subjects, args.runs, env)
        finally:
            subprocess.run([wineserver, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


if __name__ == "__main__":
    main()
