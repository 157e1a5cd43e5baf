"""Reads the console window of the real zephyrate program through AT-SPI, as a screen
reader does: a start-up run asks for the address, which is typed into the prompt; one file
comes slowly, so that the job list is read half done, and one is missing on the server, so
that the window stays at the end with an error row to read.

usage: accessibility-check.py ZEPHYRATE TEST_SERVER WORK_FOLDER (run by accessibility-check)
"""
import os
import subprocess
import sys
import time
from pathlib import Path

import pyatspi
from gi.repository import GLib

DEADLINE = time.monotonic() + 60
ERRORS = "There were error(s). Check details for more info."
program = None  # the zephyrate process


def fail(message):
    sys.exit("accessibility-check: " + message)


def wait_for(what, probe):
    """probe()'s first true value; objects that go away meanwhile count as not yet."""
    while time.monotonic() < DEADLINE:
        if program and program.poll() is not None:
            fail(f"zephyrate ended with status {program.returncode} before {what}")
        try:
            value = probe()
            if value:
                return value
        except GLib.Error:
            pass
        time.sleep(0.1)
    fail("timed out waiting for " + what)


def find(root, role, name=None):
    return pyatspi.findDescendant(
        root, lambda a: a.getRole() == role and (name is None or a.name == name))


def all_of(root, role):
    return pyatspi.findAllDescendants(root, lambda a: a.getRole() == role)


def expect(what, actual, wanted):
    if actual != wanted:
        fail(f"{what}: {actual!r}, expected {wanted!r}")


def press(control):
    control.queryAction().doAction(0)


def cell_text(cell):
    # A column with a picture beside the text is a container cell: the text is a child's.
    return cell.name or "".join(child.name for child in cell)


def rows(table):
    return [[cell_text(table.getAccessibleAt(r, c)) for c in range(table.nColumns)]
            for r in range(table.nRows)]


def console_texts(console):
    """The status line and the four detail lines: the labels around "Status :"."""
    labels = [label.name for label in all_of(console, pyatspi.ROLE_LABEL)]
    at = labels.index("Status :")
    return labels[at + 1], labels[at - 4:at]


def expect_mode(console, buttons, items_sensitive):
    for caption in buttons:
        if find(console, pyatspi.ROLE_PUSH_BUTTON, caption) is None:
            fail(f"no button {caption!r}")
    options = find(console, pyatspi.ROLE_MENU, "Options")
    items = {item.name: item.getState().contains(pyatspi.STATE_SENSITIVE)
             for item in all_of(options, pyatspi.ROLE_MENU_ITEM)}
    for name in ("Set device path", "Edit Login Info"):
        expect(f"menu item {name!r} enabled", items.get(name), items_sensitive)


def check(address):
    desktop = pyatspi.Registry.getDesktop(0)
    app = wait_for("the program on the accessibility bus", lambda: next(
        (a for a in desktop if a and a.get_process_id() == program.pid), None))
    console = wait_for("the console", lambda: find(app, pyatspi.ROLE_FRAME,
                                                   "Zephyrate Lite version"))
    prompt = wait_for("the address prompt",
                      lambda: find(app, pyatspi.ROLE_FRAME, "Zephyrate"))
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

    field = find(prompt, pyatspi.ROLE_TEXT, "Address")
    if field is None:
        fail("the address prompt has no text field named 'Address'")
    field.queryEditableText().setTextContents(address)
    press(find(prompt, pyatspi.ROLE_PUSH_BUTTON, "OK"))
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
    global program
    program_path, server_path, work = sys.argv[1], sys.argv[2], Path(sys.argv[3])
    site = work / "site"
    site.mkdir()
    (work / "device").mkdir()
    for name in ("a.txt", "b.txt"):
        (site / name).write_text("contents of " + name)
    (site / "index.txt").write_text("Header:Zephyrate v1.0\nCEFolder: \\News\\\n"
                                    "Splash:News of the day\n"
                                    "File: a.txt\nFile: b.txt\nFile: gone.txt\n")
    port_file = work / "port"
    server = subprocess.Popen([server_path, "--root", site, "--port-file", port_file,
                               "--slow", "/a.txt"], stdout=subprocess.DEVNULL)
    try:
        port = wait_for("the web server", lambda: port_file.exists() and port_file.read_text())
        program = subprocess.Popen([program_path], env=dict(
            os.environ, ZEPHYRATE_SETTINGS=str(work / "settings.reg"),
            ZEPHYRATE_DEVICE=str(work / "device"), XDG_STATE_HOME=str(work / "state")))
        check(f"127.0.0.1:{port.strip()}/index.txt")
    finally:
        for process in (program, server):
            if process and process.poll() is None:
                process.kill()
                process.wait()


main()
