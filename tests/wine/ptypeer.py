#!/usr/bin/env python3
"""The Linux end of a Wine COM port, for a Windows test program that plays the far end of the line.

    ptypeer.py --prefix WINEPREFIX --com com3 -- wine64 test.exe ...

Runs the command with MORVANDELL_PEER=127.0.0.1:<port> and MORVANDELL_PEER_COM=COM3 in its environment
and serves that TCP port meanwhile. Each connection starts with one request line:

    open            a fresh raw pseudo-terminal becomes COMn ($WINEPREFIX/dosdevices/comn links to it);
                    answered "ready <slave>", after which the connection carries the line's bytes both
                    ways. Closing the connection closes the pseudo-terminal: the device is gone.
    speed           "<input baud> <output baud> <c_cflag>" of the newest pseudo-terminal, as the program
                    set it.
    inject <hex>    writes the bytes into the newest pseudo-terminal as if the device had sent them
                    (also before the port is open); answered "ok".
    hold            stops reading what the program sends on the newest pseudo-terminal, as a device
                    that takes nothing more: its buffer fills and the program's writes stall; "ok".
    release         reads (and relays) again; "ok".

Exits with the command's exit status.
"""
import argparse
import fcntl
import os
import pty
import select
import socket
import struct
import subprocess
import sys
import threading
import tty

TCGETS2 = 0x802C542A  # struct termios2 with the real speeds, custom ones included (x86-64)


class Line:
    def __init__(self, link):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)  # the helper keeps the slave open: its settings stay readable
        self.name = os.ttyname(self.slave)
        self.link = link
        self.held = False
        temp = link + ".new"
        if os.path.lexists(temp):
            os.unlink(temp)
        os.symlink(self.name, temp)
        os.replace(temp, link)

    def speeds(self):
        raw = fcntl.ioctl(self.slave, TCGETS2, bytes(44))
        _, _, cflag, _, _, _, ispeed, ospeed = struct.unpack("<IIIIB19sII", raw)
        return ispeed, ospeed, cflag

    def close(self):
        if os.path.islink(self.link) and os.readlink(self.link) == self.name:
            os.unlink(self.link)
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass


class Peer(threading.Thread):
    def __init__(self, link):
        super().__init__(daemon=True)
        self.link = link
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(8)
        self.port = self.server.getsockname()[1]
        self.newest = None
        self.relays = {}  # socket -> Line
        self.pending = {}  # socket -> request bytes so far

    def run(self):
        while True:
            watched = [self.server] + list(self.pending) + list(self.relays)
            watched += [line.master for line in self.relays.values() if not line.held]
            ready, _, _ = select.select(watched, [], [])
            for item in ready:
                if item is self.server:
                    conn, _ = self.server.accept()
                    self.pending[conn] = b""
                elif item in self.pending:
                    self.request(item)
                elif item in self.relays:
                    self.fromTest(item)
                else:
                    self.fromPort(item)

    def request(self, conn):
        data = conn.recv(4096)
        if not data:
            del self.pending[conn]
            conn.close()
            return
        self.pending[conn] += data
        if b"\n" not in self.pending[conn]:
            return
        line, _, rest = self.pending.pop(conn).partition(b"\n")
        words = line.decode().split()
        if words == ["open"]:
            self.newest = Line(self.link)
            self.relays[conn] = self.newest
            conn.sendall(("ready %s\n" % self.newest.name).encode())
            if rest:
                os.write(self.newest.master, rest)
        elif words == ["speed"] and self.newest:
            conn.sendall(("%d %d %d\n" % self.newest.speeds()).encode())
            conn.close()
        elif words in (["hold"], ["release"]) and self.newest:
            self.newest.held = words == ["hold"]
            conn.sendall(b"ok\n")
            conn.close()
        elif len(words) == 2 and words[0] == "inject" and self.newest:
            os.write(self.newest.master, bytes.fromhex(words[1]))
            conn.sendall(b"ok\n")
            conn.close()
        else:
            conn.sendall(b"error\n")
            conn.close()

    def fromTest(self, conn):
        line = self.relays[conn]
        try:
            data = conn.recv(65536)
        except OSError:
            data = b""
        if not data:
            del self.relays[conn]
            conn.close()
            line.close()
            return
        os.write(line.master, data)

    def fromPort(self, fd):
        for conn, line in list(self.relays.items()):
            if line.master == fd:
                try:
                    data = os.read(fd, 65536)
                except OSError:
                    data = b""
                if data:
                    conn.sendall(data)
                return


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--com", default="com3")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")
    link = os.path.join(args.prefix, "dosdevices", args.com.lower())
    if os.path.lexists(link):
        os.unlink(link)
    peer = Peer(link)
    peer.start()
    env = dict(os.environ, MORVANDELL_PEER="127.0.0.1:%d" % peer.port, MORVANDELL_PEER_COM=args.com.upper())
    status = subprocess.call(command, env=env)
    if os.path.lexists(link):
        os.unlink(link)
    sys.exit(status)


if __name__ == "__main__":
    main()
