"""What the checks run by at-spi-session share: waiting, finding controls through AT-SPI,
the test web server, and the zephyrate program started on a private device and settings."""
import os
import subprocess
import sys
import time
from pathlib import Path

import pyatspi
from gi.repository import GLib

DEADLINE = time.monotonic() + 60
watched = []  # processes whose early end fails the check


def fail(message):
    sys.exit(f"{Path(sys.argv[0]).stem}: {message}")


def wait_for(what, probe):
    """probe()'s first true value; objects that go away meanwhile count as not yet."""
    while time.monotonic() < DEADLINE:
        for process in watched:
            if process.poll() is not None:
                fail(f"{process.args[0]} ended with status {process.returncode} before {what}")
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


def application(process):
    """The program's root on the accessibility bus."""
    desktop = pyatspi.Registry.getDesktop(0)
    return wait_for("the program on the accessibility bus", lambda: next(
        (a for a in desktop if a and a.get_process_id() == process.pid), None))


def answer_address(app, address):
    """Types the address into the start-up run's prompt and presses OK."""
    prompt = wait_for("the address prompt", lambda: find(app, pyatspi.ROLE_FRAME, "Zephyrate"))
    field = find(prompt, pyatspi.ROLE_TEXT, "Address")
    if field is None:
        fail("the address prompt has no text field named 'Address'")
    field.queryEditableText().setTextContents(address)
    press(find(prompt, pyatspi.ROLE_PUSH_BUTTON, "OK"))


def console_texts(console):
    """The status line and the four detail lines: the labels around "Status :"."""
    labels = [label.name for label in all_of(console, pyatspi.ROLE_LABEL)]
    at = labels.index("Status :")
    return labels[at + 1], labels[at - 4:at]


def start_server(server_path, root, work, *options):
    """zephyrate-test-server on root; the process and its port."""
    port_file = work / "port"
    port_file.unlink(missing_ok=True)
    server = subprocess.Popen([server_path, "--root", root, "--port-file", port_file, *options],
                              stdout=subprocess.DEVNULL)
    port = wait_for("the web server", lambda: port_file.exists() and port_file.read_text())
    return server, port.strip()


def program_environment(work):
    """zephyrate on the work folder's device, settings and log folder."""
    (work / "device").mkdir(exist_ok=True)
    return dict(os.environ, ZEPHYRATE_SETTINGS=str(work / "settings.reg"),
                ZEPHYRATE_DEVICE=str(work / "device"), XDG_STATE_HOME=str(work / "state"))


def block_path():
    """The shared memory of the programs started here, named after their lock file."""
    lock = os.environ["XDG_RUNTIME_DIR"] + "/ZephyrateLock"
    digest = 2166136261  # FNV-1a of the lock's path, as the program names the block
    for byte in lock.encode():
        digest = ((digest ^ byte) * 16777619) % 2**32
    return Path(f"/dev/shm/ZephyrateLock-{os.getuid()}-{digest}")


def end_all(processes):
    for process in processes:
        if process and process.poll() is None:
            process.kill()
            process.wait()
    block_path().unlink(missing_ok=True)
