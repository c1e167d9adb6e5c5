#!/usr/bin/python3
"""Start-up time of the control window against a bare window of the same size, run by hand.

Windows build under Wine (the default): morvandell.exe against build-windows/tools/bare_window.exe, both
started in one Wine session that is kept running (warm), in turns. Linux (--qt): the Qt program against
a bare Qt window (build/tools/bare_qt_window). Each start is timed from the moment the process is
started to the moment the X server shows its first viewable top-level window with the caption,
found by reading the X tree every 5 ms (xdotool --sync looks only every half second). Prints every
time, the medians and their ratio.

Needs an X display (run it under xvfb-run -a) and Debian's Python with python3-xlib.

--requests (Windows build only): instead of timing, counts the requests the Wine server handles from
each start to the moment the window is shown, read from the server's own trace (wineserver -d2). Under
Wine the start-up time follows that count (docs/benchmarks.md); unlike the times, it hardly varies with
the machine's load.

Usage: xvfb-run -a tools/bench_startup.py [--runs N] [--qt] [--requests] [--windows-build DIR] [--build DIR] [--program EXE]
On a machine shared with builds, run it as root under nice -n -15 (Xvfb, Wine and both programs then
share that priority); the figures still vary with the load, the medians less than single starts.
"""

import argparse
import os
import re
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


REQUEST = re.compile(r"^[0-9a-f]{4}: ([a-z_]+)\( (.*)$")
SHOW_WINDOW = 0x40  # SWP_SHOWWINDOW


def requests_until_shown(trace_lines):
    """The number of requests in a stretch of the server's trace up to the first one that shows a
    window, and that window's rectangle (to check that it was the window meant)."""
    count = 0
    for line in trace_lines:
        match = REQUEST.match(line)
        if not match:
            continue
        count += 1
        name, args = match.groups()
        if name == "set_window_pos":
            flags = re.search(r"swp_flags=([0-9a-f]+)", args)
            if flags and int(flags.group(1), 16) & SHOW_WINDOW:
                place = re.search(r"window=\{([^}]*)\}", args)
                return count, place.group(1) if place else "?"
    return None, None


def count_requests(subjects, runs, env, trace_path):
    d = xdisplay.Display()
    counts = {name: [] for name, _, _ in subjects}
    for run in range(runs + 1):  # the first round warms up and is not counted
        for name, command, caption in subjects:
            with open(trace_path, "rb") as trace:
                trace.seek(0, os.SEEK_END)
                start = trace.tell()
            time_start(d, command, caption, env)
            with open(trace_path, "rb") as trace:
                trace.seek(start)
                lines = trace.read().decode("latin-1").splitlines()
            count, place = requests_until_shown(lines)
            if count is None:
                sys.exit(f"{name}: no window shown in the server's trace")
            if run > 0:
                counts[name].append(count)
                print(f"run {run}: {name} {count} requests (the window shown at {place})", flush=True)
    medians = {name: statistics.median(values) for name, values in counts.items()}
    (program, _, _), (bare, _, _) = subjects
    print(", ".join(f"median {name} {medians[name]:.0f} requests" for name, _, _ in subjects)
          + f": ratio {medians[program] / medians[bare]:.2f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--qt", action="store_true", help="the Qt program on Linux instead")
    parser.add_argument("--windows-build", default="build-windows")
    parser.add_argument("--build", default="build")
    parser.add_argument("--requests", action="store_true",
                        help="count the Wine server's requests until the window shows instead of timing")
    parser.add_argument("--program", help="the program to time instead of the build's (to set another build against it)")
    args = parser.parse_args()
    if not os.environ.get("DISPLAY"):
        sys.exit("no X display: run it under xvfb-run -a")
    env = dict(os.environ)

    if args.qt and args.requests:
        sys.exit("--requests counts the Wine server's requests: the Windows build only")
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
        # One Wine session for every start, up before the first is timed; with --requests its server
        # writes down every request.
        trace_path = os.path.join(prefix, "server-trace.txt")
        server = None
        if args.requests:
            with open(trace_path, "wb") as trace:
                server = subprocess.Popen([wineserver, "-f", "-d2", "-p"], env=env, stdout=subprocess.DEVNULL,
                                          stderr=trace)
            time.sleep(1)
        else:
            subprocess.run([wineserver, "-p"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([wine, "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            program = os.path.abspath(args.program) if args.program else os.path.join(build, "morvandell.exe")
            subjects = [("morvandell.exe", [wine, program], "Morvandell:"),
                        ("bare window", [wine, os.path.join(build, "tools", "bare_window.exe")], "Bare window")]
            if args.requests:
                count_requests(subjects, args.runs, env, trace_path)
            else:
                measure(subjects, args.runs, env)
        finally:
            subprocess.run([wineserver, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if server:
                server.wait()


if __name__ == "__main__":
    main()
