"""Takes the screenshots of the README: every page of the wizard and a message box.

    /usr/bin/python3 ui/gui_tests/screenshots.py BUILD_DIR OUTPUT_DIR

The progress page is caught by placing a named pipe where the kit's third entry goes: the
installation waits on it until the picture is taken, then the pipe is opened and the run
goes on.
"""

import os
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import pyatspi  # noqa: E402

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "demo")
TARGET = ".tavlo5/Tavlo/tavlo5/tmplts"


def buttons(frame):
    return {b.name: b for b in harness.descendants(frame, pyatspi.ROLE_PUSH_BUTTON)}


def shoot(desktop, window, path):
    time.sleep(0.4)  # let the window manager and GTK finish drawing
    desktop.screenshot(path, harness.extents(window))
    print("wrote", path)


def main(build, out):
    os.makedirs(out, exist_ok=True)
    with harness.Desktop() as desktop:
        scratch = harness.Scratch()
        try:
            kit_dir = os.path.join(scratch.root, "kit")
            os.makedirs(kit_dir)
            subprocess.run([os.path.join(build, "efdtool"), "pack", "--describe",
                            "en:Demo Templates:Example Vendor:description.htm",
                            os.path.join(kit_dir, "tavlo5.efd"), EXAMPLES],
                           check=True, stdout=subprocess.DEVNULL)
            env = scratch.env(desktop.env)
            env["LC_ALL"] = "C.UTF-8"
            target = os.path.join(scratch.home, TARGET)
            os.makedirs(os.path.join(target, "Trade"))
            pipe = os.path.join(target, "Trade", "Retail")
            os.makedirs(pipe)
            pipe = os.path.join(pipe, "template.cfg")
            os.mkfifo(pipe)

            app = harness.App(desktop, [os.path.join(build, "setup"), "usecwd"], env, cwd=kit_dir)
            frame = app.frame()
            shoot(desktop, frame, os.path.join(out, "welcome.png"))
            harness.press(buttons(frame)["Next >"])
            harness.wait_for("the directory page",
                             lambda: harness.descendants(frame, pyatspi.ROLE_TEXT))
            shoot(desktop, frame, os.path.join(out, "directory.png"))
            harness.press(buttons(frame)["Next >"])
            harness.wait_for("the progress page",
                             lambda: harness.descendants(frame, pyatspi.ROLE_PROGRESS_BAR))
            shoot(desktop, frame, os.path.join(out, "progress.png"))
            # Let the run through the pipe: whoever opens it first gets an empty file.
            threading.Thread(target=lambda: open(pipe, "wb").close(), daemon=True).start()
            finish = harness.wait_for("the success page", lambda: buttons(frame).get("Finish"))
            shoot(desktop, frame, os.path.join(out, "success.png"))
            harness.press(finish)
            app.exit_code()

            blocker = os.path.join(scratch.root, "a-file")
            with open(blocker, "w") as f:
                f.write("x")
            app = harness.App(desktop, [os.path.join(build, "setup"), "usecwd"], env, cwd=kit_dir)
            frame = app.frame()
            harness.press(buttons(frame)["Next >"])
            entry = harness.wait_for("the directory entry",
                                     lambda: harness.descendants(frame, pyatspi.ROLE_TEXT)[0])
            entry.queryEditableText().setTextContents(os.path.join(blocker, "templates"))
            harness.press(buttons(frame)["Next >"])
            alert = app.alert()
            ax, ay, aw, ah = harness.extents(alert)
            fx, fy, fw, fh = harness.extents(frame)
            left, top = min(ax, fx), min(ay, fy)
            right, bottom = max(ax + aw, fx + fw), max(ay + ah, fy + fh)
            time.sleep(0.4)
            desktop.screenshot(os.path.join(out, "message-box.png"),
                               (left, top, right - left, bottom - top))
            harness.press(harness.button(alert, "OK"))
            finish = harness.wait_for("the error page", lambda: buttons(frame).get("Finish"))
            shoot(desktop, frame, os.path.join(out, "error.png"))
            harness.press(finish)
            app.exit_code()
        finally:
            scratch.close()


if __name__ == "__main__":
    main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]))
