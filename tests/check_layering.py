#!/usr/bin/env python3
"""Checks every #include of the project's C++ files against the Layout table of README.md.

    check_layering.py [ROOT]

Each row of the table names one or more paths (its first cell) and what their files may include (its
last cell: comma-separated, backticked tokens). A C++ file belongs to the row whose path starts its own
path longest. It may include its own row's files, the C++ standard library, and what its cell names:
other rows by their paths, folders inside a row (every file under them), or the groups of the line
under the table. Quoted includes are found beside
the including file or under ROOT; angle-bracket includes are sorted into groups by name. Fails (exit
status 1) on an include the row does not allow, a header of no group, an include that names no file, a
C++ file in no row, or a table it cannot read.
"""
import os
import re
import subprocess
import sys

CORE = ["platform/", "loop/", "serial/", "catalogue/", "writer/", "updater/"]

# Angle-bracket headers by group. The C++ standard library's headers have no extension.
GROUPS = {
    "Qt": re.compile(r"^(Q[A-Za-z0-9]*|Qt[A-Za-z]*/.*|q[a-z0-9]*\.h)$"),
    "POSIX": re.compile(
        r"^((sys|asm|linux|systemd|arpa|netinet)/.*|"
        r"(unistd|termios|poll|fcntl|pty|grp|pwd|dirent|langinfo|locale|signal|errno|dlfcn|pthread|"
        r"semaphore|spawn|syslog|sched)\.h)$"),
    "Win32": re.compile(
        r"^(windows|windowsx|winbase|winuser|winerror|winioctl|winsock2|ws2tcpip|commctrl|commdlg|setupapi|"
        r"cfgmgr32|devguid|initguid|objbase|shellapi|shlobj|shlwapi|knownfolders|dbt|io|ntddser|tchar|"
        r"process|powrprof|psapi|uxtheme|dwmapi|shellscalingapi)\.h$"),
    "JSON": re.compile(r"^nlohmann/.*$"),
    "GoogleTest": re.compile(r"^(gtest|gmock)/.*$"),
    "std": re.compile(r"^[a-z_]+$"),
}
SOURCES = (".h", ".hpp", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


class TableError(Exception):
    pass


def read_table(readme):
    """Rows of the Layout table: (paths, allowed tokens, line number)."""
    with open(readme, encoding="utf-8") as f:
        lines = f.read().split("\n")
    try:
        start = lines.index("## Layout")
    except ValueError:
        raise TableError("README.md has no Layout section")
    rows = []
    in_table = False
    for number, line in enumerate(lines[start + 1:], start + 2):
        if line.startswith("## "):
            break
        if not line.startswith("|"):
            if in_table:
                break
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if not in_table:
            if cells[-1] != "May include":
                raise TableError("line %d: the Layout table's last column is not \"May include\"" % number)
            in_table = True
            continue
        if set(line) <= set("|-: "):
            continue
        paths = tokens(cells[0], number)
        allowed = tokens(cells[-1], number)
        rows.append((paths, allowed, number))
    if not rows:
        raise TableError("README.md's Layout section has no table")
    return rows


def tokens(cell, number):
    """The backticked, comma-separated items of a cell; anything else is an error."""
    if not cell:
        return []
    items = []
    for part in cell.split(","):
        m = re.fullmatch(r"\s*`([^`]+)`\s*", part)
        if not m:
            raise TableError("line %d: \"%s\" is not a backticked name" % (number, part.strip()))
        items.append(m.group(1))
    return items


def row_of(path, rows):
    """The row whose path starts `path` longest, or None."""
    best, length = None, -1
    for row in rows:
        for p in row[0]:
            if path.startswith(p) and len(p) > length:
                best, length = row, len(p)
    return best


def group_of(header):
    for name, pattern in GROUPS.items():
        if pattern.match(header):
            return name
    return None


def resolve(root, including, name):
    """The path (relative to root) a quoted include names, or None."""
    for base in (os.path.dirname(including), ""):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate.replace(os.sep, "/")
    return None


def source_files(root):
    """The project's C++ files (relative paths): git's, tracked or new, else every folder but build ones."""
    try:
        listed = subprocess.run(["git", "-C", root, "ls-files", "-co", "--exclude-standard"], check=True,
                                capture_output=True, text=True).stdout.split("\n")
        return sorted(p for p in listed if p.endswith(SOURCES) and os.path.isfile(os.path.join(root, p)))
    except (OSError, subprocess.CalledProcessError):
        pass
    found = []
    for here, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
        found += [os.path.relpath(os.path.join(here, f), root).replace(os.sep, "/") for f in files
                  if f.endswith(SOURCES)]
    return sorted(found)


def check(root):
    rows = read_table(os.path.join(root, "README.md"))
    known = {p for row in rows for p in row[0]}
    groups = set(GROUPS) | {"core", "everything"}
    for paths, allowed, number in rows:
        for token in allowed:
            if token not in groups and token not in known and not os.path.isdir(os.path.join(root, token)):
                raise TableError("line %d: \"%s\" is no row, group or folder" % (number, token))
    problems = []
    checked = 0
    for path in source_files(root):
        row = row_of(path, rows)
        if row is None:
            problems.append("%s: in no row of the Layout table" % path)
            continue
        allowed = set(row[1])
        if "everything" in allowed:
            continue
        checked += 1
        if not row[1]:
            problems.append("%s: its row (README.md line %d) allows no C++ file" % (path, row[2]))
            continue
        if "core" in allowed:
            allowed |= set(CORE)
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for line_number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                where = "%s:%d" % (path, line_number)
                quoted, header = m.group(1) == '"', m.group(2)
                if quoted:
                    target = resolve(root, path, header)
                    if target is None:
                        problems.append("%s: \"%s\" names no file" % (where, header))
                        continue
                    target_row = row_of(target, rows)
                    if target_row is row:
                        continue
                    names = target_row[0] if target_row else []
                    folders = [t for t in allowed if t not in known and t.endswith("/")]
                    if not any(n in allowed for n in names) and not any(target.startswith(f) for f in folders):
                        problems.append("%s: includes %s (row %s), which README.md line %d does not allow"
                                        % (where, target, ", ".join(names) or "none", row[2]))
                else:
                    group = group_of(header)
                    if group is None:
                        problems.append("%s: <%s> belongs to no group of the Layout table" % (where, header))
                    elif group != "std" and group not in allowed:
                        problems.append("%s: includes <%s> (%s), which README.md line %d does not allow"
                                        % (where, header, group, row[2]))
    return problems, checked


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    try:
        problems, checked = check(root)
    except TableError as e:
        print("README.md, Layout:", e)
        return 1
    for p in problems:
        print(p)
    if problems:
        print("%d include(s) break the layers of README.md's Layout table." % len(problems))
        return 1
    print("Includes follow the layers: %d files checked against README.md's Layout table." % checked)
    return 0


if __name__ == "__main__":
    sys.exit(main())
