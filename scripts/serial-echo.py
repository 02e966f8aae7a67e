#!/usr/bin/env python3
"""A serial line whose far end echoes, for the Windows tests under Wine.

Usage: serial-echo.py LINK. Opens a pseudo-terminal, makes LINK a symbolic link to its terminal
side (Wine maps $WINEPREFIX/dosdevices/comN to what that link names), prints the terminal's path
once ready and sends back every byte that arrives, until it is stopped.
"""
import os
import pty
import select
import sys
import tty


def main() -> None:
    master, terminal = pty.openpty()
    # Raw until a program sets the line: no echo or line editing by the terminal itself. The
    # terminal side stays open here, so the far end never reads a hang-up between two programs.
    tty.setraw(terminal)
    link = sys.argv[1]
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(terminal), link)
    print(os.ttyname(terminal), flush=True)
    while True:
        select.select([master], [], [])
        data = os.read(master, 4096)
        while data:
            data = data[os.write(master, data):]


if __name__ == "__main__":
    main()
