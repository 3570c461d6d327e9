"""A private desktop for driving setup as a person would.

A Desktop starts Xvfb, a window manager (openbox, so modal message boxes get the focus) and
a private session bus with the accessibility bridge, runs the program under test in a
scratch HOME and TMPDIR, and reads and presses its widgets through AT-SPI. Every process it
starts is ended by PID when the desktop closes, in reverse order of starting.

Run with /usr/bin/python3 (it needs pyatspi from Debian's python3-pyatspi).
"""

import os
import signal
import subprocess
import tempfile
import time

import pyatspi

from scratch_tree import Scratch  # noqa: F401  (re-exported: harness.Scratch)

WAIT_SECONDS = 20.0


class TimeoutError_(AssertionError):
    pass


def wait_for(what, probe, timeout=WAIT_SECONDS, interval=0.05):
    """Calls probe until it returns something true; fails with what after timeout."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = probe()
        except Exception as error:  # the accessibility tree changes while widgets come and go
            value, last_error = None, error
        if value:
            return value
        if time.monotonic() > deadline:
            cause = " (the probe last failed with %r)" % last_error if last_error else ""
            raise TimeoutError_("timed out waiting for " + what + cause)
        time.sleep(interval)


def _alive(pid):
    try:
        state = subprocess.run(["ps", "-o", "stat=", "-p", str(pid)],
                               capture_output=True, text=True).stdout.strip()
    except OSError:
        return False
    return bool(state) and not state.startswith("Z")


def _end(pid, grace=3.0):
    if pid is None or not _alive(pid):
        return
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            return
        deadline = time.monotonic() + grace
        while time.monotonic() < deadline:
            try:
                os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                pass
            if not _alive(pid):
                return
            time.sleep(0.05)


class Desktop:
    """Xvfb + openbox + session bus. Use as a context manager."""

    def __init__(self, with_accessibility=True):
        self.with_accessibility = with_accessibility
        self.pids = []  # in order of starting
        self.env = dict(os.environ)
        self.display = None

    def __enter__(self):
        # A desktop that fails half-way still ends what it started.
        try:
            return self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise

    def _start_window_manager(self, attempts=3):
        """Starts openbox and waits until it manages the root window.

        Now and then openbox dies or never takes the root window when the machine is busy;
        then it is ended and started again, and a last failure names what openbox said."""
        for attempt in range(attempts):
            log = tempfile.NamedTemporaryFile(prefix="openbox-", suffix=".log", delete=False)
            log_path = log.name
            wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                  stdout=log, stderr=subprocess.STDOUT)
            log.close()
            self.pids.append(wm.pid)
            try:
                wait_for("the window manager", lambda: wm.poll() is not None or b"# 0x" in
                         subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
                                        env=self.env, capture_output=True).stdout)
            except TimeoutError_:
                pass
            if wm.poll() is None and b"# 0x" in subprocess.run(
                    ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                    capture_output=True).stdout:
                os.unlink(log_path)
                return
            _end(wm.pid)
            wm.poll()
            self.pids.remove(wm.pid)
            with open(log_path, errors="replace") as f:
                said = f.read().strip()
            os.unlink(log_path)
        raise TimeoutError_("the window manager did not start in %d attempts; openbox said: %s"
                            % (attempts, said or "nothing"))

    def _start(self):
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.pids.append(xvfb.pid)
        os.close(write_fd)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read_fd, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not report a display")
            number += chunk
        os.close(read_fd)
        self.display = ":" + number.decode().strip()
        self.env["DISPLAY"] = self.display
        self.env.pop("WAYLAND_DISPLAY", None)
        self._start_window_manager()
        if self.with_accessibility:
            out = subprocess.run(
                ["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
                env=self.env, capture_output=True, text=True, check=True).stdout.split()
            self.env["DBUS_SESSION_BUS_ADDRESS"] = out[0]
            self.bus_pid = int(out[1])
            self.pids.append(self.bus_pid)
            os.environ["DBUS_SESSION_BUS_ADDRESS"] = out[0]
            os.environ["DISPLAY"] = self.display
            self.env["GTK_MODULES"] = "gail:atk-bridge"
            self.env["NO_AT_BRIDGE"] = "0"
        return self

    def __exit__(self, *exc):
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        try:
            for pid in reversed(self.pids):
                if getattr(self, "bus_pid", None) == pid:
                    children = subprocess.run(["ps", "-o", "pid=", "--ppid", str(pid)],
                                              capture_output=True, text=True).stdout.split()
                    for child in children:
                        _end(int(child))
                _end(pid)
        finally:
            signal.signal(signal.SIGINT, signal.default_int_handler)
            signal.signal(signal.SIGTERM, signal.SIG_DFL)
        return False

    def screenshot(self, path, extents=None):
        """The root window, cropped to (x, y, w, h) when given."""
        args = ["import", "-window", "root"]
        if extents:
            x, y, w, h = extents
            args += ["-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage"]
        subprocess.run(args + [path], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, check=True)


class App:
    """The program under test, its accessible tree and its end."""

    def __init__(self, desktop, argv, env, cwd=None):
        self.desktop = desktop
        self.process = subprocess.Popen(argv, env=env, cwd=cwd,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        desktop.pids.append(self.process.pid)
        self._app = None

    @property
    def pid(self):
        return self.process.pid

    def accessible(self):
        def find():
            desktop = pyatspi.Registry.getDesktop(0)
            for i in range(desktop.childCount):
                child = desktop.getChildAtIndex(i)
                if child is not None and child.get_process_id() == self.pid:
                    return child
            return None
        if self._app is None:
            self._app = wait_for("the program on the accessibility bus", find)
        return self._app

    def window(self, role):
        """The first top-level child with the role (frame: main window; alert: message box)."""
        def find():
            app = self.accessible()
            for i in range(app.childCount):
                child = app.getChildAtIndex(i)
                if child is not None and child.getRole() == role:
                    if child.getState().contains(pyatspi.STATE_SHOWING):
                        return child
            return None
        return wait_for("a window with role %s" % role, find)

    def frame(self):
        return self.window(pyatspi.ROLE_FRAME)

    def alert(self):
        return self.window(pyatspi.ROLE_ALERT)

    def has_alert(self):
        try:
            app = self.accessible()
            for i in range(app.childCount):
                child = app.getChildAtIndex(i)
                if child is not None and child.getRole() == pyatspi.ROLE_ALERT and \
                        child.getState().contains(pyatspi.STATE_SHOWING):
                    return True
        except Exception:
            pass
        return False

    def exit_code(self, timeout=WAIT_SECONDS):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise TimeoutError_("the program did not end")


def descendants(acc, role=None, showing=True):
    """Every descendant (depth first) with the role, and only showing ones if asked."""
    found = []
    stack = [acc]
    while stack:
        node = stack.pop()
        if node is None:
            continue
        for i in range(node.childCount - 1, -1, -1):
            child = node.getChildAtIndex(i)
            if child is None:
                continue
            stack.append(child)
        if node is acc:
            continue
        if role is not None and node.getRole() != role:
            continue
        if showing and not node.getState().contains(pyatspi.STATE_SHOWING):
            continue
        found.append(node)
    return found


def text_of(acc):
    try:
        return acc.queryText().getText(0, -1)
    except NotImplementedError:
        return acc.name


def labels(window):
    return [text_of(a) for a in descendants(window, pyatspi.ROLE_LABEL)]


def buttons(window):
    """The showing push buttons by name."""
    return {b.name: b for b in descendants(window, pyatspi.ROLE_PUSH_BUTTON)}


def button(window, name, timeout=WAIT_SECONDS):
    def find():
        for b in descendants(window, pyatspi.ROLE_PUSH_BUTTON):
            if b.name == name:
                return b
        return None
    return wait_for("the button %r" % name, find, timeout=timeout)


def press(acc):
    acc.queryAction().doAction(0)


def extents(acc):
    e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return (e.x, e.y, e.width, e.height)


def arabic_locale(folder):
    """Compiles ar_EG.UTF-8 into folder and returns the variables that select it (LOCPATH and
    LANG, LC_ALL to be removed), or None where localedef or the locale's source is missing."""
    os.makedirs(folder, exist_ok=True)
    try:
        result = subprocess.run(["localedef", "-c", "-i", "ar_EG", "-f", "UTF-8",
                                 os.path.join(folder, "ar_EG.UTF-8")], capture_output=True)
    except OSError:
        return None
    if result.returncode != 0:
        return None
    return {"LOCPATH": folder, "LANG": "ar_EG.UTF-8"}


def pack_kit(build, kit_path, content_dir, describe=()):
    """Packs content_dir into the kit at kit_path with the build's efdtool; describe holds the
    --describe values, one per language."""
    args = [os.path.join(build, "efdtool"), "pack"]
    for d in describe:
        args += ["--describe", d]
    subprocess.run(args + [kit_path, content_dir], check=True, stdout=subprocess.DEVNULL)
