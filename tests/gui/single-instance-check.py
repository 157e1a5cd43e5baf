"""Starts the real zephyrate program again while it runs, as a launcher clicked twice or a
scheduler does: a second start hands over to the running copy and ends with exit code 1,
starting a run when the first is idle and changing nothing when it is in one. A copy that
hangs in the middle of writing a file is ended by the next start, which runs in its place;
the file keeps its previous copy and the update logs their previous state. A copy that
closes leaves the shared block all zero, also when the network layer did not start.

usage: single-instance-check.py ZEPHYRATE TEST_SERVER NO_NETWORK_PRELOAD WORK_FOLDER
(run by at-spi-session)
"""
import os
import signal
import struct
import subprocess
import sys
import time
from pathlib import Path

import pyatspi

from atspi_support import (answer_address, application, block_path, console_texts, end_all, expect, fail,
                           find, press, program_environment, start_server, wait_for, watched)

ERRORS = "There were error(s). Check details for more info."
HEAD = "Header:Zephyrate v1.0\nCEFolder: \\News\\\n"


def block():
    """The shared block's three words: owner process, window token, heartbeat."""
    path = block_path()
    return struct.unpack("<III", path.read_bytes()[:12]) if path.exists() else (0, 0, 0)


def files(folder):
    return {p: p.read_bytes() for p in sorted(folder.rglob("*")) if p.is_file()}


def start(program_path, environment):
    program = subprocess.Popen([program_path], env=environment)
    watched.append(program)
    return program


def second_start(program_path, environment):
    """A start while a copy runs: its exit code, after checking that it took about a second."""
    began = time.monotonic()
    code = subprocess.run([program_path], env=environment, timeout=30).returncode
    took = time.monotonic() - began
    if not 0.9 <= took < 10:
        expect("the time a second start took", round(took, 1), "about a second")
    return code


def check(program_path, environment, work, address):
    first = start(program_path, environment)
    wait_for("the window's token", lambda: block()[1] != 0)
    expect("the owner", block()[0], first.pid)
    console = wait_for("the console", lambda: find(application(first), pyatspi.ROLE_FRAME,
                                                   "Zephyrate Lite version"))
    answer_address(application(first), address)
    wait_for("the first run's end", lambda: console_texts(console)[0] == ERRORS)

    # The index now lists a file that comes slowly, over an older copy on the device.
    (work / "site" / "index.txt").write_text(HEAD + "File: a.txt\nFile: slow.bin\n")
    old = next((work / "device").rglob("a.txt")).with_name("slow.bin")
    old.write_bytes(b"previous copy")
    os.utime(old, (1_600_000_000, 1_600_000_000))
    logs = files(work / "state")

    expect("a second start while idle", second_start(program_path, environment), 1)
    answer_address(application(first), address)  # every run asks for it
    wait_for("the handed-over run",
             lambda: console_texts(console)[0].startswith("Retrieving: slow.bin"))
    expect("a second start during a run", second_start(program_path, environment), 1)
    if not console_texts(console)[0].startswith("Retrieving: slow.bin"):
        expect("the run after a second start", console_texts(console)[0], "Retrieving: slow.bin")

    # Hung in the middle of the file: the next start ends it and runs in its place.
    first.send_signal(signal.SIGSTOP)
    watched.remove(first)
    third = start(program_path, environment)
    expect("the hung copy's end", first.wait(timeout=20), -signal.SIGKILL)
    expect("the file it was writing", old.read_bytes(), b"previous copy")
    expect("the update logs", files(work / "state"), logs)
    wait_for("the new owner", lambda: block()[0] == third.pid)

    # Its own start-up run finishes and closes the window (Auto Close).
    (work / "site" / "index.txt").write_text(HEAD + "File: a.txt\n")
    answer_address(application(third), address)
    watched.remove(third)
    expect("the end of the last copy", third.wait(timeout=30), 0)
    expect("the shared block at the end", block(), (0, 0, 0))


def check_no_network(program_path, environment, preload):
    """A network layer that does not start: the message, no console, the lock given back."""
    sanitizer = environment.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    program = start(program_path, dict(environment, LD_PRELOAD=preload, ASAN_OPTIONS=sanitizer))
    app = application(program)
    wait_for("the message", lambda: find(app, pyatspi.ROLE_LABEL,
                                         "Windows sockets initialization failed."))
    expect("the block while the message shows", block()[:2], (program.pid, 0))
    if find(app, pyatspi.ROLE_FRAME, "Zephyrate Lite version"):
        fail("the console showed")
    press(find(app, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    watched.remove(program)
    expect("the end after the message", program.wait(timeout=20), 0)
    expect("the shared block at the end", block(), (0, 0, 0))


def main():
    program_path, server_path, work = sys.argv[1], sys.argv[2], Path(sys.argv[-1])
    site = work / "site"
    site.mkdir()
    (site / "a.txt").write_text("contents of a.txt")
    (site / "index.txt").write_text(HEAD + "File: a.txt\nFile: gone.txt\n")
    environment = program_environment(work)
    server = None
    try:
        server, port = start_server(server_path, site, work, "--slow", "/slow.bin",
                                    "--pause", "5000")
        check(program_path, environment, work, f"127.0.0.1:{port}/index.txt")
        check_no_network(program_path, environment, sys.argv[3])
    finally:
        end_all([server, *watched])


main()
