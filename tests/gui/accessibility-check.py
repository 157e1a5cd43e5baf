"""Reads the console window of the real zephyrate program through AT-SPI, as a screen
reader does: a start-up run asks for the address, which is typed into the prompt; one file
comes slowly, so that the job list is read half done, and one is missing on the server, so
that the window stays at the end with an error row to read.

usage: accessibility-check.py ZEPHYRATE TEST_SERVER WORK_FOLDER (run by at-spi-session)
"""
import subprocess
import sys
from pathlib import Path

import pyatspi

from atspi_support import (all_of, answer_address, application, console_texts, end_all,
                           expect, fail, find, press, program_environment, start_server,
                           wait_for, watched)

ERRORS = "There were error(s). Check details for more info."


def cell_text(cell):
    # A column with a picture beside the text is a container cell: the text is a child's.
    return cell.name or "".join(child.name for child in cell)


def rows(table):
    return [[cell_text(table.getAccessibleAt(r, c)) for c in range(table.nColumns)]
            for r in range(table.nRows)]


def expect_mode(console, buttons, items_sensitive):
    for caption in buttons:
        if find(console, pyatspi.ROLE_PUSH_BUTTON, caption) is None:
            fail(f"no button {caption!r}")
    options = find(console, pyatspi.ROLE_MENU, "Options")
    items = {item.name: item.getState().contains(pyatspi.STATE_SENSITIVE)
             for item in all_of(options, pyatspi.ROLE_MENU_ITEM)}
    for name in ("Set device path", "Edit Login Info"):
        expect(f"menu item {name!r} enabled", items.get(name), items_sensitive)


def check(app, address):
    console = wait_for("the console", lambda: find(app, pyatspi.ROLE_FRAME,
                                                   "Zephyrate Lite version"))
    wait_for("the address prompt", lambda: find(app, pyatspi.ROLE_FRAME, "Zephyrate"))
    expect_mode(console, ["Cancel all jobs", "Cancel this job"], False)
    for role, name in [(pyatspi.ROLE_PROGRESS_BAR, "Download progress"),
                       (pyatspi.ROLE_CHECK_BOX, "Force update to device"),
                       (pyatspi.ROLE_PUSH_BUTTON, "Details >>>")]:
        if find(console, role, name) is None:
            fail(f"no {pyatspi.Role(role)} named {name!r}")

    # The list is opened first and read while the run goes, as by a user who follows it.
    press(find(console, pyatspi.ROLE_PUSH_BUTTON, "Details >>>"))
    table = wait_for("the job list", lambda: (t := find(console, pyatspi.ROLE_TABLE, "Details"))
                     and t.getState().contains(pyatspi.STATE_SHOWING) and t).queryTable()
    expect("job list columns", [table.getColumnHeader(c).name for c in range(table.nColumns)],
           ["Object", "Status"])

    answer_address(app, address)
    # a.txt comes slowly: the files after it wait in the queue meanwhile.
    wait_for("the queued files",
             lambda: ["Kestrelwynd NV: gone.txt", "Added to Sync Queue"] in rows(table))
    status = wait_for("the run's end",
                      lambda: (s := console_texts(console)[0]) in ("Finished", ERRORS) and s)
    expect("status line", status, ERRORS)
    expect("detail lines", console_texts(console)[1],
           ["News of the day", "Kestrelwynd NV", "support@kestrelwynd.example",
            "http://www.kestrelwynd.example/"])
    expect_mode(console, ["Synchronize", "Close"], True)
    expect("job list", rows(table), [
        ["Kestrelwynd NV", "Succesfully parsed server configuration file"],
        ["Kestrelwynd NV: a.txt", "Added: \\Zephyrate\\News\\a.txt."],
        ["Kestrelwynd NV: b.txt", "Added: \\Zephyrate\\News\\b.txt."],
        ["Kestrelwynd NV: gone.txt", "Failed: HTTP ERROR CODE: 404."],
    ])


def main():
    program_path, server_path, work = sys.argv[1], sys.argv[2], Path(sys.argv[-1])
    site = work / "site"
    site.mkdir()
    for name in ("a.txt", "b.txt"):
        (site / name).write_text("contents of " + name)
    (site / "index.txt").write_text("Header:Zephyrate v1.0\nCEFolder: \\News\\\n"
                                    "Splash:News of the day\n"
                                    "File: a.txt\nFile: b.txt\nFile: gone.txt\n")
    server, program = None, None
    try:
        server, port = start_server(server_path, site, work, "--slow", "/a.txt")
        program = subprocess.Popen([program_path], env=program_environment(work))
        watched.append(program)
        check(application(program), f"127.0.0.1:{port}/index.txt")
    finally:
        end_all([program, server])


main()
