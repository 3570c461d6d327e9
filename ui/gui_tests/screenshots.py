"""Takes the screenshots of the README: every page of the wizard, a message box, a contact
sheet of the welcome page in four scripts (Latin, Cyrillic, Armenian, Chinese), a contact
sheet of the pages at 150 % text size in German and Armenian, and one under an Arabic locale
(the texts English, every window left to right).

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
# The languages of the large-text sheet, and its font: 150 % of GTK's default "Sans 10".
LARGE_TEXT_LANGUAGES = ["de", "hy"]
LARGE_FONT = "Sans 15"


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
    return path


def shoot_together(desktop, windows, path):
    """The smallest part of the screen that holds every window (a message box over its
    main window)."""
    boxes = [harness.extents(w) for w in windows]
    left, top = min(b[0] for b in boxes), min(b[1] for b in boxes)
    right = max(b[0] + b[2] for b in boxes)
    bottom = max(b[1] + b[3] for b in boxes)
    time.sleep(0.4)
    desktop.screenshot(path, (left, top, right - left, bottom - top))
    print("wrote", path)
    return path


def montage(pictures, tile, sheet):
    subprocess.run(["montage"] + pictures + ["-tile", tile, "-geometry", "+6+6",
                                             "-background", "white", sheet], check=True)
    for path in pictures:
        os.remove(path)
    print("wrote", sheet)


def shoot_pages(desktop, build, kit_dir, env, args, prefix, question_answer=None):
    """The welcome, directory and success pages of one run in any language (Next is the
    second push button of the frame), and with question_answer the close question over the
    directory page, answered with that button. Returns the pictures' paths."""
    app = harness.App(desktop, [os.path.join(build, "setup"), "usecwd"] + args, env,
                      cwd=kit_dir)
    frame = app.frame()

    def press_next():
        harness.press(harness.descendants(frame, pyatspi.ROLE_PUSH_BUTTON)[1])

    pictures = [shoot(desktop, frame, prefix + "-welcome.png")]
    press_next()
    harness.wait_for("the directory page", lambda: harness.descendants(frame, pyatspi.ROLE_TEXT))
    pictures.append(shoot(desktop, frame, prefix + "-directory.png"))
    if question_answer:
        desktop.xdotool("mousemove", "--sync", *harness.extents(frame)[:2])
        desktop.xdotool("key", "Escape")
        alert = app.alert()
        pictures.append(shoot_together(desktop, [frame, alert], prefix + "-question.png"))
        harness.press(harness.button(alert, question_answer))
        harness.wait_for("the question answered", lambda: not app.has_alert())
    press_next()
    harness.wait_for("the success page",
                     lambda: harness.descendants(frame, pyatspi.ROLE_CHECK_BOX), timeout=120)
    pictures.append(shoot(desktop, frame, prefix + "-success.png"))
    # Ended without Finish, which would open the description document.
    app.process.terminate()
    app.exit_code()
    return pictures


def shoot_large_text(desktop, build, kit_dir, env, scratch, out):
    """The pages at 150 % text size in LARGE_TEXT_LANGUAGES, one row per language."""
    gtkrc = os.path.join(scratch.root, "large-text.gtkrc")
    with open(gtkrc, "w") as f:
        f.write('gtk-font-name = "%s"\n' % LARGE_FONT)
    large = dict(env, GTK2_RC_FILES=gtkrc)
    pictures = []
    for code in LARGE_TEXT_LANGUAGES:
        pictures += shoot_pages(desktop, build, kit_dir, large, ["-L" + code],
                                os.path.join(out, "large-" + code))
    montage(pictures, "3x", os.path.join(out, "large-text.png"))


def shoot_arabic_locale(desktop, build, kit_dir, env, scratch, out):
    """The pages and the close question under an Arabic locale."""
    arabic = harness.arabic_locale(os.path.join(scratch.root, "locales"))
    if arabic is None:
        raise RuntimeError("the ar_EG locale cannot be compiled here")
    under_arabic = dict(env, **arabic)
    under_arabic.pop("LC_ALL", None)
    pictures = shoot_pages(desktop, build, kit_dir, under_arabic, [],
                           os.path.join(out, "arabic"), question_answer="No")
    montage(pictures, "2x", os.path.join(out, "arabic-locale.png"))


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
    montage(pictures, "2x", os.path.join(out, "welcome-languages.png"))


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

            # A kit of the demo templates alone, so that each run reaches its end quickly.
            small_kit_dir = os.path.join(scratch.root, "small-kit")
            os.makedirs(small_kit_dir)
            harness.pack_kit(build, os.path.join(small_kit_dir, "tavlo5.efd"), EXAMPLES,
                             describe=["en:Demo Templates:Example Vendor:description.htm"])
            shoot_large_text(desktop, build, small_kit_dir, env, scratch, out)
            shoot_arabic_locale(desktop, build, small_kit_dir, env, scratch, out)
        finally:
            scratch.close()


if __name__ == "__main__":
    main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]))
