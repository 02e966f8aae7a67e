#!/usr/bin/env python3
"""A serial line whose far end a test drives, for the Windows tests under Wine.

Usage: serial-bridge.py LINK. Listens on a TCP port of 127.0.0.1, prints that port once ready,
and serves one client at a time with one command per line, each answered by one line:

  reset       a fresh pseudo-terminal; LINK (Wine maps $WINEPREFIX/dosdevices/comN to what it
              names) then points at its terminal side                 -> "ok"
  send HEX    the far end transmits these bytes                      -> "ok"
  recv MS     what reached the far end, waiting up to MS ms for the first byte and then until the
              line has been quiet for a while                        -> "ok HEX"
  gone        the device vanishes: the far end closes and LINK goes  -> "ok"

A client that leaves takes its line with it.
"""
import os
import pty
import select
import socket
import sys
import tty

QUIET_S = 0.05


class Line:
    def __init__(self, link: str) -> None:
        self.link = link
        self.master = -1
        self.terminal = -1

    def reset(self) -> None:
        self.gone()
        self.master, self.terminal = pty.openpty()
        # Raw until a program sets the line. The terminal side stays open here, so that the line
        # keeps its settings and never hangs up between two opens.
        tty.setraw(self.terminal)
        os.symlink(os.ttyname(self.terminal), self.link)

    def gone(self) -> None:
        if os.path.lexists(self.link):
            os.unlink(self.link)
        for fd in (self.master, self.terminal):
            if fd >= 0:
                os.close(fd)
        self.master = self.terminal = -1

    def send(self, data: bytes) -> None:
        while data:
            data = data[os.write(self.master, data):]

    def receive(self, ms: int) -> bytes:
        got = b""
        while select.select([self.master], [], [], QUIET_S if got else ms / 1000)[0]:
            chunk = os.read(self.master, 4096)
            if not chunk:
                break
            got += chunk
        return got


def serve(client: socket.socket, line: Line) -> None:
    with client, client.makefile("rwb", buffering=0) as stream:
        for request in stream:
            command, _, argument = request.decode().strip().partition(" ")
            answer = "ok"
            try:
                if command == "reset":
                    line.reset()
                elif command == "send":
                    line.send(bytes.fromhex(argument))
                elif command == "recv":
                    answer = "ok " + line.receive(int(argument)).hex()
                elif command == "gone":
                    line.gone()
                else:
                    answer = "error unknown command " + command
            except OSError as error:
                answer = "error " + str(error)
            stream.write((answer + "\n").encode())
    line.gone()


def main() -> None:
    line = Line(sys.argv[1])
    line.gone()
    server = socket.create_server(("127.0.0.1", 0))
    print(server.getsockname()[1], flush=True)
    while True:
        client, _ = server.accept()
        client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        serve(client, line)


if __name__ == "__main__":
    main()
