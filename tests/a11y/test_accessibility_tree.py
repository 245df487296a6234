#!/usr/bin/python3
"""What a screen reader gets from Vorlanti: the real program on a display of its own, with
a private session bus and accessibility bus, read and driven through AT-SPI the way a screen
reader does it.  Its ports are scripts/demo-device, linked into a temporary device tree that
VORLANTI_DEVICE_TREE points the program at.  Every wait is on a condition with a deadline.

    test_accessibility_tree.py PROGRAM

Exits with 77 (skipped) where no display server can start."""

import os
import pathlib
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
DEMO_DEVICE = ROOT / "scripts" / "demo-device"
SYSTEM_PYTHON = "/usr/bin/python3"
DEADLINE = 20.0
SKIPPED = 77

# Filled in by Session: the program, and the Atspi and GLib modules, which can be imported
# only once the private buses are in the environment.
PROGRAM = None
Atspi = None
GLib = None


class NoDisplay(Exception):
    """No display server can start here: the test is skipped, not failed."""


def read_line(stream, process, what):
    """The first line `process` writes to `stream`, within the deadline."""
    deadline = time.monotonic() + DEADLINE
    line = b""
    while not line.endswith(b"\n"):
        remaining = deadline - time.monotonic()
        if remaining <= 0 or not select.select([stream], [], [], remaining)[0]:
            raise RuntimeError(f"{what} said nothing within {DEADLINE:.0f} s")
        chunk = os.read(stream, 256)
        if not chunk:
            raise RuntimeError(f"{what} ended with status {process.wait()}")
        line += chunk
    return line.decode().strip()


def pump_until(condition, what):
    """Runs the accessibility events while waiting for `condition`; fails naming `what`."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + DEADLINE
    while True:
        while context.iteration(False):
            pass
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError(f"not within {DEADLINE:.0f} s: {what}")
        time.sleep(0.02)


class Session:
    """A virtual display, a session bus on it and the accessibility bus that the session bus
    starts when asked, all private to this run and ended with it."""

    def __init__(self):
        self.directory = tempfile.TemporaryDirectory(prefix="vorlanti-a11y-")
        self.processes = []
        self.env = {
            key: value
            for key, value in os.environ.items()
            if not key.startswith(("QT_", "AT_SPI", "DBUS_", "XDG_", "WAYLAND"))
            and key not in ("DISPLAY", "XAUTHORITY")
        }
        runtime = pathlib.Path(self.directory.name) / "runtime"
        runtime.mkdir(mode=0o700)
        self.env["XDG_RUNTIME_DIR"] = str(runtime)

    def start_reporting(self, argv, what, failure=RuntimeError):
        """Starts argv with a pipe on which it reports one line; returns that line. A start
        that fails raises `failure`."""
        reader, writer = os.pipe()
        log_path = pathlib.Path(self.directory.name) / f"{what}.log"
        try:
            with open(log_path, "wb") as log:
                process = subprocess.Popen(
                    [*argv, str(writer)],
                    pass_fds=(writer,),
                    env=self.env,
                    stdin=subprocess.DEVNULL,
                    stdout=subprocess.DEVNULL,
                    stderr=log,
                )
        except OSError as error:
            raise failure(f"{what} cannot start: {error.strerror}")
        finally:
            os.close(writer)
        self.processes.append(process)
        try:
            return read_line(reader, process, what)
        except RuntimeError as error:
            said = log_path.read_text(errors="replace").strip().splitlines()
            raise failure(f"{error}" + (f": {said[-1]}" if said else ""))
        finally:
            os.close(reader)

    def start(self):
        if shutil.which("Xvfb") is None:
            raise NoDisplay("there is no Xvfb (scripts/deps installs it)")
        display = self.start_reporting(
            ["Xvfb", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-displayfd"],
            "Xvfb",
            NoDisplay,
        )
        self.env["DISPLAY"] = ":" + display
        # Services the bus starts (the accessibility bus, its registry, which types keys on
        # the display) inherit its environment, and with it this display.
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.start_reporting(
            ["dbus-daemon", "--session", "--nofork", "--print-address"], "dbus-daemon"
        )
        os.environ.update(self.env)
        for key in [k for k in os.environ if k not in self.env]:
            del os.environ[key]

        global Atspi, GLib
        import gi

        gi.require_version("Atspi", "2.0")
        gi.require_version("Gio", "2.0")
        from gi.repository import Atspi, Gio, GLib

        # What a screen reader does when it starts; toolkits then switch their bridge on.
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        enabled = ("org.a11y.Status", "ScreenReaderEnabled", GLib.Variant("b", True))
        bus.call_sync(
            "org.a11y.Bus",
            "/org/a11y/bus",
            "org.freedesktop.DBus.Properties",
            "Set",
            GLib.Variant("(ssv)", enabled),
            None,
            Gio.DBusCallFlags.NONE,
            int(DEADLINE * 1000),
            None,
        )

    def stop(self):
        # The bus first: the accessibility bus ends when its session bus goes.
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(timeout=DEADLINE)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.directory.cleanup()


SESSION = None


def children(accessible):
    """The children that are there right now (one that is just going can read as None)."""
    found = [accessible.get_child_at_index(i) for i in range(accessible.get_child_count())]
    return [child for child in found if child is not None]


def states(accessible):
    return {Atspi.StateType(s).value_nick for s in accessible.get_state_set().get_states()}


def text_of(accessible):
    return accessible.get_text(0, accessible.get_character_count())


class Events:
    """The AT-SPI events of the given types, as a screen reader registers for them."""

    def __init__(self, *types):
        self.seen = []
        self.listener = Atspi.EventListener.new(self.seen.append)
        self.types = types
        for event_type in types:
            self.listener.register(event_type)

    def close(self):
        for event_type in self.types:
            self.listener.deregister(event_type)

    def about(self, source, event_type):
        return [e for e in self.seen if e.type == event_type and e.source == source]


class Vorlanti:
    """The program, on a device tree of its own, and its window in the accessibility tree."""

    def __init__(self, session):
        self.tree = pathlib.Path(session.directory.name) / "tree"
        (self.tree / "dev").mkdir(parents=True, exist_ok=True)
        (self.tree / "sys" / "class" / "tty").mkdir(parents=True, exist_ok=True)
        self.log = pathlib.Path(session.directory.name) / "vorlanti.log"
        env = dict(session.env, QT_QPA_PLATFORM="xcb", VORLANTI_DEVICE_TREE=str(self.tree))
        if "ASAN_OPTIONS" in env:
            # The X keyboard library hands strndup names that are not NUL-terminated, as it
            # may; AddressSanitizer's strict string check would stop the program as it starts.
            env["ASAN_OPTIONS"] += ":strict_string_checks=0"
            # Whole allocation stacks, through Qt's libraries too, so that the leak suppression
            # of Qt's accessibility bridge (tests/lsan.supp) finds its frame.
            env["LSAN_OPTIONS"] = env.get("LSAN_OPTIONS", "") + ":fast_unwind_on_malloc=0"
        with open(self.log, "wb") as log:
            self.process = subprocess.Popen(
                [PROGRAM], env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT
            )
        self.device = None
        self.application, self.window = pump_until(self.find, "the window in the tree")

    def find(self):
        if self.process.poll() is not None:
            raise AssertionError(f"Vorlanti ended with status {self.process.returncode}:\n"
                                 + self.log.read_text(errors="replace"))
        desktop = Atspi.get_desktop(0)
        for application in children(desktop):
            if application is None or application.get_process_id() != self.process.pid:
                continue
            windows = [w for w in children(application) if w.get_name() == "Vorlanti"]
            if windows and windows[0].get_child_count() > 0:
                return application, windows[0]
        return None

    def control(self, role, name=None, description=None):
        """The window's one control with this role and name or description."""
        found = [
            c
            for c in children(self.window)
            if c.get_role_name() == role
            and (name is None or c.get_name() == name)
            and (description is None or c.get_description() == description)
        ]
        if len(found) != 1:
            raise AssertionError(f"{len(found)} controls {role} {name!r} {description!r}")
        return found[0]

    def labelled(self, label):
        """The control that the label `label` names, as a screen reader finds it."""
        for relation in self.control("label", label).get_relation_set():
            if relation.get_relation_type() == Atspi.RelationType.LABEL_FOR:
                return relation.get_target(0)
        raise AssertionError(f"the label {label!r} names no control")

    def link_device(self, port):
        self.device = subprocess.Popen(
            [SYSTEM_PYTHON, str(DEMO_DEVICE), "--link", str(self.tree / "dev" / port)],
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
        )
        ready = read_line(self.device.stdout.fileno(), self.device, "the demo device")
        if not ready.startswith("demo device ready"):
            raise AssertionError(ready)

    def end(self):
        """Ends the program with Escape, as a user would, and then the demo device."""
        try:
            if self.process.poll() is None:
                key(Keys.ESCAPE)
                self.process.wait(timeout=DEADLINE)
            return self.process.returncode
        finally:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()
            if self.device is not None:
                self.device.send_signal(signal.SIGTERM)
                self.device.wait(timeout=DEADLINE)
                self.device.stdout.close()


class Keys:
    TAB = 0xFF09
    SPACE = 0x0020
    ESCAPE = 0xFF1B
    RETURN = 0xFF0D
    DOWN = 0xFF54
    F10 = 0xFFC7
    MENU = 0xFF67
    SHIFT_MASK = 1


def click_background(window):
    """Clicks the window just inside its bottom right corner, where no control lies."""
    box = window.get_extents(Atspi.CoordType.SCREEN)
    Atspi.generate_mouse_event(box.x + box.width - 2, box.y + box.height - 2, "b1c")


def key(keysym, shift=False):
    """Types one key on the display, through the accessibility bus's registry."""
    synth = Atspi.KeySynthType
    if shift:
        Atspi.generate_keyboard_event(Keys.SHIFT_MASK, None, synth.LOCKMODIFIERS)
    Atspi.generate_keyboard_event(keysym, None, synth.SYM)
    if shift:
        Atspi.generate_keyboard_event(Keys.SHIFT_MASK, None, synth.UNLOCKMODIFIERS)


class ScreenReaderTest(unittest.TestCase):
    def setUp(self):
        self.events = Events(
            "object:property-change:accessible-name",
            "object:property-change:accessible-description",
            "object:state-changed:showing",
            "object:state-changed:focused",
        )
        self.program = Vorlanti(SESSION)

    def tearDown(self):
        status = self.program.end()
        self.events.close()
        if status != 0:
            self.fail(f"Vorlanti ended with status {status} on Escape:\n"
                      + self.program.log.read_text(errors="replace")[-6000:])

    def focused(self, control):
        return pump_until(lambda: "focused" in states(control), f"{control.get_name()} focused")

    def test_start_up_state(self):
        p = self.program
        self.assertEqual(p.window.get_role_name(), "dialog")
        self.assertIn("active", states(p.window))

        # Each choice is named by its label and shows its current item; all its items are
        # there to be read.
        choices = {
            "Port": ("COM1", 8),
            "BaudRate": ("115200", 8),
            "ByteSize": ("8", 4),
            "StopBits": ("1", 3),
            "Parity": ("None", 5),
            "Flow": ("None", 4),
        }
        for label, (current, count) in choices.items():
            with self.subTest(choice=label):
                choice = p.labelled(label)
                self.assertEqual((choice.get_role_name(), choice.get_name()),
                                 ("combo box", current))
                self.assertEqual(children(choice)[0].get_child_count(), count)
                self.assertLessEqual({"enabled", "focusable", "expandable"}, states(choice))
        self.assertIn("focused", states(p.labelled("Port")))

        for name in ("DTR", "RTS"):
            with self.subTest(check_box=name):
                self.assertLessEqual({"enabled", "checked"}, states(p.control("check box", name)))

        for name, enabled in [("Close port", False), ("Open port", True), ("Clear window", True),
                              ("Send chars", True), ("Open file", True)]:
            with self.subTest(button=name):
                self.assertEqual("enabled" in states(p.control("push button", name)), enabled)

        # The status panes read as they show, and say what they are for.
        for shown, purpose in [("", "Status 1"), ("", "Status 2"),
                               ("115200bps", "Baud rate status"), ("COM not open", "Port status")]:
            with self.subTest(pane=purpose):
                pane = p.control("label", description=purpose)
                self.assertEqual(pane.get_name(), shown)
                self.assertIn("read-only", states(pane))

        # The banner that the window paints is read where it shows, as the words it shows.
        banner = p.control("label", "Tessaloriant")
        self.assertEqual(banner.get_description(), "Banner")
        self.assertLessEqual({"showing", "visible"}, states(banner))

        self.assertEqual(text_of(p.control("text", "Input")), "")
        self.assertIn("editable", states(p.control("text", "Input")))
        view = p.control("text", "Received data")
        self.assertEqual(text_of(view), "")
        self.assertLessEqual({"read-only", "multi-line", "focusable"}, states(view))
        self.assertEqual(p.control("list", "Commands").get_child_count(), 0)

    def test_a_failed_open_an_open_and_a_close_are_heard_and_keep_the_focus_safe(self):
        p = self.program
        pane = p.control("label", description="Port status")
        open_port = p.control("push button", "Open port")
        close_port = p.control("push button", "Close port")
        clear = p.control("push button", "Clear window")

        # From the port choice, Tab skips the disabled "Close port".
        key(Keys.TAB)
        self.focused(open_port)
        key(Keys.SPACE)
        pump_until(lambda: pane.get_name() == "COM1 open fail", "COM1 open fail")
        self.assertIn("no such device", pane.get_description())
        pump_until(lambda: self.events.about(pane, "object:property-change:accessible-name"),
                   "the pane's new text announced")
        pump_until(lambda: self.events.about(pane, "object:property-change:accessible-description"),
                   "the pane's reason announced")
        self.assertEqual(("enabled" in states(open_port), "focused" in states(open_port)),
                         (True, True))

        p.link_device("COM1")
        key(Keys.SPACE)
        pump_until(lambda: pane.get_name() == "COM1 open success", "COM1 open success")
        self.assertEqual(pane.get_description(), "Port status")
        self.focused(close_port)
        self.assertNotIn("enabled", states(open_port))
        self.assertNotIn("focused", states(clear))

        # What is sent comes back as the receive view's text.
        p.control("text", "Input").set_text_contents("50494E47")
        p.control("push button", "Send chars").do_action(0)
        view = p.control("text", "Received data")
        pump_until(lambda: text_of(view) == "50494E47504F4E47", "PING echoed and answered")

        key(Keys.SPACE)
        pump_until(lambda: pane.get_name() == "COM close", "COM close")
        self.focused(open_port)
        self.assertNotIn("enabled", states(close_port))
        self.assertEqual(text_of(view), "50494E47504F4E47")

    def test_the_about_entry_is_read_on_every_opening_of_the_menu(self):
        p = self.program
        openers = [
            ("Shift+F10 on the port choice", "Port", lambda: key(Keys.F10, shift=True)),
            ("the Menu key on the baud rate choice", "BaudRate", lambda: key(Keys.MENU)),
            ("Shift+F10 on the flow choice", "Flow", lambda: key(Keys.F10, shift=True)),
        ]
        for how, label, opener in openers:
            with self.subTest(how):
                choice = p.labelled(label)
                self.tab_to(choice)
                menu = self.open_menu(opener)
                entries = [(c.get_role_name(), c.get_name()) for c in children(menu)]
                self.assertEqual(entries,
                                 [("separator", ""), ("menu item", "关于 Vorlanti(A)...")])
                self.assertIn("enabled", states(children(menu)[1]))
                # Chosen from the keyboard: through the bus, the choice would not return
                # before the modal About box has closed.
                key(Keys.DOWN)
                key(Keys.RETURN)
                about = pump_until(self.about_box, "the About box")
                self.assertEqual(
                    [(c.get_role_name(), c.get_name()) for c in children(about)
                     if "showing" in states(c)][-2:],
                    [("label", "Vorlanti 1.0 版"), ("push button", "确定")],
                )
                self.assertIn("focused", states(children(about)[-1]))
                key(Keys.RETURN)
                pump_until(lambda: self.about_box() is None, "the About box closed")
                # With no window manager on this display, nobody gives the window back its
                # activation; a click on it does, as a window manager would.
                click_background(p.window)
                self.focused(choice)

    def tab_to(self, control):
        """Presses Tab until `control` has the focus, one focus change at a time."""
        for _ in range(len(children(self.program.window))):
            if "focused" in states(control):
                return
            already = len(self.events.seen)
            key(Keys.TAB)
            pump_until(lambda: any(e.type == "object:state-changed:focused" and e.detail1 == 1
                                   for e in self.events.seen[already:]), "the focus moved on")
        self.focused(control)

    def open_menu(self, opener):
        already = len(self.events.seen)
        opener()

        def shown_menu():
            for event in self.events.seen[already:]:
                if (event.type == "object:state-changed:showing" and event.detail1 == 1
                        and event.source.get_role_name() == "popup menu"):
                    return event.source
            return None

        return pump_until(shown_menu, "the window's menu")

    def about_box(self):
        boxes = [w for w in children(self.program.application) if w.get_name() == "关于 Vorlanti"]
        return boxes[0] if boxes and "showing" in states(boxes[0]) else None


def main():
    global PROGRAM, SESSION
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    PROGRAM = sys.argv.pop(1)
    # Ended from outside (a time-out), the run still ends what it started.
    signal.signal(signal.SIGTERM, lambda signum, frame: sys.exit(128 + signum))
    SESSION = Session()
    try:
        try:
            SESSION.start()
        except NoDisplay as reason:
            print(f"skipped: no display server can start here: {reason}")
            return SKIPPED
        result = unittest.main(exit=False, verbosity=2).result
        return 0 if result.wasSuccessful() else 1
    finally:
        SESSION.stop()


if __name__ == "__main__":
    sys.exit(main())
