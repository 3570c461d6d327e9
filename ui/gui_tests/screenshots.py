"""Takes the screenshots of the README: every page of the wizard, a message box, and a contact
sheet of the welcome page in four scripts (Latin, Cyrillic, Armenian, Chinese).

    /usr/bin/python3 ui/gui_tests/screenshots.py BUILD_DIR OUTPUT_DIR

The progress page is caught by giving the kit, besides the demo templates, a folder of many
small files: writing them keeps the run on the progress page for a few seconds.
"""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import pyatspi  # noqa: E402

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "demo")
TARGET = ".tavlo5/Tavlo/tavlo5/tmplts"
# Enough small files to keep a run on the progress page for a few seconds.
FILLER_FOLDERS = 200
FILLER_FILES_PER_FOLDER = 200
# The languages of the contact sheet, one per script; each of the first three has a label
# wider than the 80-pixel buttons, so the sheet shows the widened button row too.
SHEET_LANGUAGES = ["de", "uk", "hy", "zh"]


def write_content(root):
    """The demo templates plus the filler folder, under root."""
    subprocess.run(["cp", "-R", EXAMPLES + "/.", root], check=True)
    for folder in range(FILLER_FOLDERS):
        path = os.path.join(root, "Samples", "set%03d" % folder)
        os.makedirs(path)
        for number in range(FILLER_FILES_PER_FOLDER):
            with open(os.path.join(path, "sample%03d.cfg" % number), "w") as f:
                f.write("sample = %d\n" % number)


def shoot(desktop, window, path):
    time.sleep(0.4)  # let the window manager and GTK finish drawing
    desktop.screenshot(path, harness.extents(window))
    print("wrote", path)


def shoot_languages(desktop, build, kit_dir, env, out):
    """The welcome page in each of SHEET_LANGUAGES, put together two by two."""
    pictures = []
    for code in SHEET_LANGUAGES:
        app = harness.App(desktop, [os.path.join(build, "setup"), "usecwd", "-L" + code], env,
                          cwd=kit_dir)
        frame = app.frame()
        path = os.path.join(out, "welcome-%s.png" % code)
        shoot(desktop, frame, path)
        pictures.append(path)
        app.process.terminate()
        app.exit_code()
    sheet = os.path.join(out, "welcome-languages.png")
    subprocess.run(["montage"] + pictures + ["-tile", "2x", "-geometry", "+6+6",
                                             "-background", "white", sheet], check=True)
    for path in pictures:
        os.remove(path)
    print("wrote", sheet)


def main(build, out):
    os.makedirs(out, exist_ok=True)
    with harness.Desktop() as desktop:
        scratch = harness.Scratch()
        try:
            kit_dir = os.path.join(scratch.root, "kit")
            content = os.path.join(scratch.root, "content")
            os.makedirs(kit_dir)
            os.makedirs(content)
            write_content(content)
            harness.pack_kit(build, os.path.join(kit_dir, "tavlo5.efd"), content,
                             describe=["en:Demo Templates:Example Vendor:description.htm"])
            env = scratch.env(desktop.env)
            env["LC_ALL"] = "C.UTF-8"

            app = harness.App(desktop, [os.path.join(build, "setup"), "usecwd"], env, cwd=kit_dir)
            frame = app.frame()
            shoot(desktop, frame, os.path.join(out, "welcome.png"))
            harness.press(harness.buttons(frame)["Next >"])
            harness.wait_for("the directory page",
                             lambda: harness.descendants(frame, pyatspi.ROLE_TEXT))
            shoot(desktop, frame, os.path.join(out, "directory.png"))
            harness.press(harness.buttons(frame)["Next >"])
            harness.wait_for("the progress page",
                             lambda: harness.descendants(frame, pyatspi.ROLE_PROGRESS_BAR))
            shoot(desktop, frame, os.path.join(out, "progress.png"))
            if harness.buttons(frame).get("Finish"):
                raise RuntimeError("the run ended before the progress page was taken")
            # Writing the filler takes a few seconds, far more on a busy machine.
            finish = harness.button(frame, "Finish", timeout=180)
            shoot(desktop, frame, os.path.join(out, "success.png"))
            harness.press(finish)
            app.exit_code()

            blocker = os.path.join(scratch.root, "a-file")
            with open(blocker, "w") as f:
                f.write("x")
            app = harness.App(desktop, [os.path.join(build, "setup"), "usecwd"], env, cwd=kit_dir)
            frame = app.frame()
            harness.press(harness.buttons(frame)["Next >"])
            entry = harness.wait_for("the directory entry",
                                     lambda: harness.descendants(frame, pyatspi.ROLE_TEXT)[0])
            entry.queryEditableText().setTextContents(os.path.join(blocker, "templates"))
            harness.press(harness.buttons(frame)["Next >"])
            alert = app.alert()
            ax, ay, aw, ah = harness.extents(alert)
            fx, fy, fw, fh = harness.extents(frame)
            left, top = min(ax, fx), min(ay, fy)
            right, bottom = max(ax + aw, fx + fw), max(ay + ah, fy + fh)
            time.sleep(0.4)
            desktop.screenshot(os.path.join(out, "message-box.png"),
                               (left, top, right - left, bottom - top))
            harness.press(harness.button(alert, "OK"))
            finish = harness.button(frame, "Finish")
            shoot(desktop, frame, os.path.join(out, "error.png"))
            harness.press(finish)
            app.exit_code()

            shoot_languages(desktop, build, kit_dir, env, out)
        finally:
            scratch.close()


if __name__ == "__main__":
    main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]))
