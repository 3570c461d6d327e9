"""End-to-end tests of setup as a person uses it: a real window on a private X display,
read and pressed through the accessibility bus, with real files in a scratch HOME and
TMPDIR. Also the silent runs, with and without a display, of both builds.

    /usr/bin/python3 ui/gui_tests/test_wizard.py BUILD_DIR [BUILD_I386_DIR]

BUILD_DIR holds setup and efdtool; the 32-bit silent flows run when BUILD_I386_DIR holds a
32-bit setup and qemu-i386 is there.
"""

import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import pyatspi  # noqa: E402
from scratch_tree import snapshot  # noqa: E402

BUILD = None
BUILD_I386 = None
DESKTOP = None
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "demo")

DEFAULT_TARGET = ".tavlo5/Tavlo/tavlo5/tmplts"
SETTINGS = ".Tavlo/tavlostart/tavlostart.cfg"


def setUpModule():
    global DESKTOP
    DESKTOP = harness.Desktop().__enter__()


def tearDownModule():
    DESKTOP.__exit__(None, None, None)


# What a run may rightly leave under the scratch root without changing anything of the
# user's: GTK's own cache under HOME.
LEFT_BY_A_RUN = ("home/.cache",)


def users_tree(root):
    """The snapshot of the scratch root without what a run may rightly leave, and without
    the time of TMPDIR itself: a run may probe it with a file of its own that it removes
    again, which changes that time. What TMPDIR holds still counts."""
    tree = snapshot(root, skip=LEFT_BY_A_RUN)
    kind, content, _ = tree["tmp"]
    tree["tmp"] = (kind, content, None)
    return tree


class WizardTest(unittest.TestCase):
    """One scratch HOME/TMPDIR and one kit per test; the program runs with usecwd."""

    def setUp(self):
        self.scratch = harness.Scratch()
        self.addCleanup(self.scratch.close)
        self.kit_dir = os.path.join(self.scratch.root, "kit")
        os.makedirs(self.kit_dir)
        self.bin = os.path.join(self.scratch.root, "bin")
        os.makedirs(self.bin)
        self.opened = os.path.join(self.scratch.root, "xdg-open.log")
        with open(os.path.join(self.bin, "xdg-open"), "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' % self.opened)
        os.chmod(os.path.join(self.bin, "xdg-open"), 0o755)
        harness.pack_kit(BUILD, os.path.join(self.kit_dir, "tavlo5.efd"), EXAMPLES, describe=[
            "en:Demo <Templates> & Co:Example %d Vendor:description.htm",
            "ru:Демонстрационные шаблоны:Поставщик:description.htm",
            "de:Demo-Vorlagen:Beispielanbieter:description.htm"])
        self.apps = []

    def tearDown(self):
        for app in self.apps:
            harness._end(app.pid)
            for stream in (app.process.stdout, app.process.stderr):
                stream.close()

    def env(self, **extra):
        env = self.scratch.env(DESKTOP.env)
        env["PATH"] = self.bin + ":" + env.get("PATH", "/usr/bin:/bin")
        env["LC_ALL"] = "C.UTF-8"
        env.pop("LANG", None)
        env.update(extra)
        return env

    def start(self, *args, env=None):
        argv = [os.path.join(BUILD, "setup"), "usecwd"] + list(args)
        app = harness.App(DESKTOP, argv, env or self.env(), cwd=self.kit_dir)
        self.apps.append(app)
        return app

    def target(self, *parts):
        return os.path.join(self.scratch.home, DEFAULT_TARGET, *parts)

    def settings(self):
        with open(os.path.join(self.scratch.home, SETTINGS)) as f:
            return f.read()

    def entry(self, frame):
        return harness.wait_for("the directory entry",
                                lambda: harness.descendants(frame, pyatspi.ROLE_TEXT)[0])

    def answer(self, app, name):
        alert = app.alert()
        text = harness.labels(alert)
        harness.press(harness.button(alert, name))
        harness.wait_for("the message box to close", lambda: not app.has_alert())
        return text

    # --- the interactive run -----------------------------------------------------------

    def test_interactive_run_from_welcome_to_finish(self):
        app = self.start()
        frame = app.frame()
        self.assertEqual(frame.name, "Installing configuration")
        # The window's inside, without the window manager's frame.
        client = frame.getChildAtIndex(0)
        self.assertEqual(harness.extents(client)[2:], (500, 360))
        # Markup characters and percent signs of the kit are shown as they are.
        self.assertEqual(harness.labels(frame), [
            "Welcome to the product installation program Demo <Templates> & Co "
            "(Example %d Vendor)."])
        buttons = harness.buttons(frame)
        self.assertFalse(buttons["< Back"].getState().contains(pyatspi.STATE_SENSITIVE))
        harness.press(buttons["Next >"])

        entry = self.entry(frame)
        self.assertEqual(harness.text_of(entry), self.target() + "/")
        # Back returns to the welcome page; the edit that was not confirmed is forgotten.
        entry.queryEditableText().setTextContents("/somewhere/else")
        harness.press(harness.buttons(frame)["< Back"])
        harness.wait_for("the welcome page", lambda: "Welcome" in " ".join(harness.labels(frame)))
        harness.press(harness.buttons(frame)["Next >"])
        entry = self.entry(frame)
        harness.wait_for("the stored directory", lambda: harness.text_of(entry) == self.target() + "/")

        chosen = os.path.join(self.scratch.root, "chosen")
        entry.queryEditableText().setTextContents(chosen.replace("/", "\\"))
        harness.press(harness.buttons(frame)["Next >"])
        finish = harness.button(frame, "Finish")
        self.assertEqual(harness.labels(frame), ["Configuration installed successfully."])
        box = [c for c in harness.descendants(frame, pyatspi.ROLE_CHECK_BOX)]
        self.assertEqual(len(box), 1)
        self.assertTrue(box[0].getState().contains(pyatspi.STATE_CHECKED))
        self.assertFalse(
            harness.buttons(frame)["Cancel"].getState().contains(pyatspi.STATE_SENSITIVE))

        harness.press(finish)
        self.assertEqual(app.exit_code(), 0)
        with open(os.path.join(chosen, "Accounting", "template.cfg")) as f:
            self.assertEqual(f.read(), "name=Accounting\nversion=1.0\n")
        self.assertEqual(self.settings(), "ConfigurationTemplatesLocation=%s\n" % chosen)
        with open(self.opened) as f:
            # The typed directory has no trailing "/"; the document is still found inside it.
            self.assertEqual(f.read(), os.path.join(chosen, "description.htm") + "\n")

    def test_shell_characters_typed_as_the_directory_are_plain_characters(self):
        typed = os.path.join(self.scratch.root, 'a"b$(touch PWNED)c`touch PWNED`\\d$HOME')
        app = self.start()
        frame = app.frame()
        harness.press(harness.buttons(frame)["Next >"])
        self.entry(frame).queryEditableText().setTextContents(typed)
        harness.press(harness.buttons(frame)["Next >"])
        harness.press(harness.button(frame, "Finish"))
        self.assertEqual(app.exit_code(), 0)
        installed = typed.replace("\\", "/")
        self.assertTrue(os.path.isfile(os.path.join(installed, "Trade", "template.cfg")))
        self.assertEqual(self.settings(), "ConfigurationTemplatesLocation=%s\n" % installed)
        with open(self.opened) as f:  # the description path reached xdg-open unchanged
            self.assertEqual(f.read(), os.path.join(installed, "description.htm") + "\n")
        found = subprocess.run(["find", self.scratch.root, "-name", "PWNED"],
                               capture_output=True, text=True).stdout
        self.assertEqual(found, "")
        self.assertFalse(os.path.exists(os.path.join(self.kit_dir, "PWNED")))

    def test_unticked_description_is_not_opened(self):
        app = self.start()
        frame = app.frame()
        harness.press(harness.buttons(frame)["Next >"])
        self.entry(frame)
        harness.press(harness.buttons(frame)["Next >"])
        finish = harness.button(frame, "Finish")
        # Finish is labelled before the page's widgets show: wait for the box itself.
        box = harness.wait_for("the check box",
                               lambda: harness.descendants(frame, pyatspi.ROLE_CHECK_BOX)[0])
        harness.press(box)
        harness.wait_for("the box unticked",
                         lambda: not box.getState().contains(pyatspi.STATE_CHECKED))
        harness.press(finish)
        self.assertEqual(app.exit_code(), 0)
        self.assertFalse(os.path.exists(self.opened))
        self.assertTrue(os.path.isfile(self.target("description.htm")))

    def test_empty_directory_asks_again_and_keeps_the_page(self):
        app = self.start()
        frame = app.frame()
        harness.press(harness.buttons(frame)["Next >"])
        entry = self.entry(frame)
        entry.queryEditableText().setTextContents("")
        harness.press(harness.buttons(frame)["Next >"])
        alert = app.alert()
        # The message box carries the caption as its title, like the main window.
        windows = subprocess.run(["xdotool", "search", "--name", "^Installing configuration$"],
                                 env=DESKTOP.env, capture_output=True, text=True).stdout.split()
        self.assertEqual(len(windows), 2)
        self.assertEqual(self.answer(app, "OK"), ["Specify correct path to template directory."])
        self.assertIn("Template directory:", harness.labels(frame))
        self.assertFalse(os.path.exists(self.target()))
        harness._end(app.pid)

    def test_failed_installation_shows_the_error_and_changes_nothing(self):
        blocker = os.path.join(self.scratch.root, "a-file")
        with open(blocker, "w") as f:
            f.write("not a directory\n")
        before = users_tree(self.scratch.root)
        app = self.start()
        frame = app.frame()
        harness.press(harness.buttons(frame)["Next >"])
        entry = self.entry(frame)
        entry.queryEditableText().setTextContents(os.path.join(blocker, "templates"))
        harness.press(harness.buttons(frame)["Next >"])
        self.assertEqual(self.answer(app, "OK"), ["Installation error"])
        harness.button(frame, "Finish")
        self.assertEqual(harness.labels(frame), [
            "An error occurred during the installation process. Installation canceled. "
            "Template directory has not been changed."])
        harness.press(harness.buttons(frame)["Finish"])
        self.assertEqual(app.exit_code(), 0)
        self.assertFalse(os.path.exists(self.opened))
        self.assertEqual(users_tree(self.scratch.root), before)
        self.assertFalse(os.path.exists(os.path.join(self.scratch.home, SETTINGS)))

    def test_close_confirmation_answered_no_then_yes(self):
        app = self.start()
        frame = app.frame()
        DESKTOP.xdotool("mousemove", "--sync", *harness.extents(frame)[:2])
        DESKTOP.xdotool("key", "Escape")
        self.assertEqual(self.answer(app, "No"), ["Do you really want to cancel installation?"])
        self.assertEqual(app.process.poll(), None)
        harness.press(harness.buttons(frame)["Cancel"])
        self.answer(app, "Yes")
        self.assertEqual(app.exit_code(), 0)
        self.assertFalse(os.path.exists(self.target()))

    # --- the checks before the window -----------------------------------------------------

    def check_message(self, expected, env=None):
        app = self.start(env=env)
        self.assertEqual(self.answer(app, "OK"), [expected])
        self.assertEqual(app.exit_code(), 0)

    def test_missing_kit(self):
        os.remove(os.path.join(self.kit_dir, "tavlo5.efd"))
        self.check_message("Distribution kit file tavlo5.efd not found.")

    def test_no_space_in_the_temporary_directory(self):
        # /proc reports no free blocks, so any kit is three times too large for it.
        self.check_message("Insufficient space available in the directory Temp.",
                           env=self.env(TMPDIR="/proc"))

    def test_damaged_kit(self):
        with open(os.path.join(self.kit_dir, "tavlo5.efd"), "wb") as f:
            f.write(b"\xff" * 64)
        self.check_message("Distribution kit file tavlo5.efd corrupted or not designed for "
                           "this installation program.")
        self.assertEqual([n for n in os.listdir(self.scratch.tmp) if n.startswith("edf")], [])

    # --- languages ------------------------------------------------------------------------

    def welcome_texts(self, *args, env=None):
        app = self.start(*args, env=env)
        frame = app.frame()
        texts = (frame.name, harness.labels(frame), sorted(harness.buttons(frame)))
        harness._end(app.pid)
        return texts

    def test_languages_by_option_and_by_locale(self):
        title, labels, buttons = self.welcome_texts("-Lde")
        self.assertEqual(title, "Konfiguration wird installiert")
        self.assertEqual(labels, ["Willkommen beim Installationsprogramm des Produkts "
                                  "Demo-Vorlagen (Beispielanbieter)."])
        self.assertIn("< Zurück", buttons)
        self.assertIn("Weiter >", buttons)
        title, labels, buttons = self.welcome_texts("-Lru")
        self.assertEqual(title, "Установка конфигурации")
        self.assertIn("Далее >", buttons)
        self.assertIn("Демонстрационные шаблоны (Поставщик)", labels[0])
        title, labels, buttons = self.welcome_texts(env=self.env(LC_ALL="ru_RU.UTF-8"))
        self.assertEqual(title, "Установка конфигурации")
        # An unknown code selects nothing, so the locale decides.
        title, _, _ = self.welcome_texts("-Lxx", env=self.env(LC_ALL="de_DE.UTF-8"))
        self.assertEqual(title, "Konfiguration wird installiert")

    # --- assistive technology, GTK's own words, direction ---------------------------------

    def test_named_for_assistive_technology_with_gtk_in_the_chosen_language(self):
        app = self.start("-Lde")
        frame = app.frame()
        icons = harness.descendants(frame, pyatspi.ROLE_ICON)
        self.assertEqual([icon.name for icon in icons], ["Konfiguration wird installiert"])
        # GTK's own buttons speak German too.
        DESKTOP.xdotool("mousemove", "--sync", *harness.extents(frame)[:2])
        DESKTOP.xdotool("key", "Escape")
        self.assertEqual(sorted(harness.buttons(app.alert())), ["Ja", "Nein"])
        self.answer(app, "Nein")
        harness.press(harness.buttons(frame)["Weiter >"])

        entry = self.entry(frame)
        prompt, caption = harness.descendants(frame, pyatspi.ROLE_LABEL)
        self.assertEqual(harness.text_of(caption), "Vorlagenverzeichnis:")
        self.assertEqual(entry.name, harness.text_of(caption))

        def targets(acc, relation):
            return [r.getTarget(i) for r in acc.getRelationSet()
                    if r.getRelationType() == relation for i in range(r.getNTargets())]
        self.assertEqual(targets(entry, pyatspi.RELATION_LABELLED_BY), [caption])
        self.assertEqual(targets(caption, pyatspi.RELATION_LABEL_FOR), [entry])
        browse = harness.buttons(frame)["Verzeichnis auswählen"]
        self.assertEqual(browse.description, harness.text_of(prompt))
        self.assertEqual(harness.text_of(browse), "...")

        # The chooser: titled with the caption, in German, at the nearest existing folder.
        entry.queryEditableText().setTextContents(os.path.join(self.kit_dir, "not", "there"))
        harness.press(browse)
        chooser = app.window(pyatspi.ROLE_DIALOG)
        self.assertEqual(chooser.name, frame.name)
        current = harness.wait_for("the chooser's folder", lambda: [
            b.name for b in harness.descendants(chooser, pyatspi.ROLE_TOGGLE_BUTTON)
            if b.getState().contains(pyatspi.STATE_CHECKED)])
        self.assertEqual(current, ["kit"])
        self.assertIn("Öffnen", harness.buttons(chooser))
        harness.press(harness.buttons(chooser)["Abbrechen"])
        harness.wait_for("the chooser closed",
                         lambda: not chooser.getState().contains(pyatspi.STATE_SHOWING))

        # Enter in the entry is Next.
        chosen = os.path.join(self.scratch.root, "by-enter")
        entry.queryEditableText().setTextContents(chosen)
        DESKTOP.xdotool("mousemove", "--sync", *[a + b // 2 for a, b in
                                                 zip(harness.extents(entry)[:2],
                                                     harness.extents(entry)[2:])])
        DESKTOP.xdotool("click", "1")
        harness.wait_for("the entry focused",
                         lambda: entry.getState().contains(pyatspi.STATE_FOCUSED))
        DESKTOP.xdotool("key", "Return")
        harness.press(harness.button(frame, "Fertig"))
        self.assertEqual(app.exit_code(), 0)
        self.assertTrue(os.path.isfile(os.path.join(chosen, "Trade", "template.cfg")))

    def test_every_window_reads_left_to_right_under_an_arabic_locale(self):
        arabic = harness.arabic_locale(os.path.join(self.scratch.root, "locales"))
        if arabic is None:
            self.skipTest("the ar_EG locale cannot be compiled here")
        env = self.env(**arabic)
        env.pop("LC_ALL")
        app = self.start(env=env)
        frame = app.frame()
        DESKTOP.xdotool("mousemove", "--sync", *harness.extents(frame)[:2])
        DESKTOP.xdotool("key", "Escape")
        alert = app.alert()
        buttons = harness.buttons(alert)
        self.assertEqual(sorted(buttons), ["No", "Yes"])
        # Left to right, GTK puts the affirmative answer last, at the right.
        self.assertLess(harness.extents(buttons["No"])[0], harness.extents(buttons["Yes"])[0])
        self.answer(app, "No")
        harness._end(app.pid)

    # --- silent runs ----------------------------------------------------------------------

    def test_silent_run_with_a_window(self):
        app = self.start("-S")
        self.assertEqual(app.exit_code(), 0)
        self.assertTrue(os.path.isfile(self.target("Trade", "Retail", "template.cfg")))
        self.assertEqual(self.settings(), "ConfigurationTemplatesLocation=%s\n" % self.target())
        self.assertFalse(os.path.exists(self.opened))

    def test_silent_run_with_an_empty_default_directory_writes_nothing(self):
        settings = os.path.join(self.scratch.home, SETTINGS)
        os.makedirs(os.path.dirname(settings))
        with open(settings, "w") as f:
            f.write("ConfigurationTemplatesLocation=http://example.invalid/tmpl/\n")
        before = users_tree(self.scratch.root)
        app = self.start("-S")
        self.assertEqual(self.answer(app, "OK"),
                         ["Installation of templates to the current directory is not supported."])
        self.assertEqual(app.exit_code(), 0)
        self.assertEqual(users_tree(self.scratch.root), before)

    def run_headless(self, program):
        env = self.env()
        env.pop("DISPLAY", None)
        argv = program + ["usecwd", "-S"]
        result = subprocess.run(argv, env=env, cwd=self.kit_dir, capture_output=True,
                                timeout=120)
        return result

    def test_headless_silent_run(self):
        result = self.run_headless([os.path.join(BUILD, "setup")])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.isfile(self.target("Accounting", "objects.lst")))
        self.assertEqual(self.settings(), "ConfigurationTemplatesLocation=%s\n" % self.target())

    def test_headless_without_silent_says_why_and_ends(self):
        env = self.env()
        env.pop("DISPLAY", None)
        result = subprocess.run([os.path.join(BUILD, "setup"), "usecwd"], env=env,
                                cwd=self.kit_dir, capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"display", result.stderr)
        self.assertFalse(os.path.exists(self.target()))

    def test_headless_check_messages_go_to_standard_error(self):
        os.remove(os.path.join(self.kit_dir, "tavlo5.efd"))
        result = self.run_headless([os.path.join(BUILD, "setup")])
        self.assertEqual(result.returncode, 0)
        self.assertIn("Distribution kit file tavlo5.efd not found.", result.stderr.decode())

    def test_32_bit_headless_silent_run(self):
        if not BUILD_I386 or not shutil.which("qemu-i386"):
            self.skipTest("no 32-bit build")
        program = os.path.join(BUILD_I386, "setup")
        result = self.run_headless(["qemu-i386", program])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.isfile(self.target("Trade", "template.cfg")))
        self.assertEqual(self.settings(), "ConfigurationTemplatesLocation=%s\n" % self.target())
        # A second run finds everything up to date and changes nothing.
        before = snapshot(os.path.join(self.scratch.home, ".tavlo5"))
        result = self.run_headless(["qemu-i386", program])
        self.assertEqual(result.returncode, 0)
        self.assertEqual(snapshot(os.path.join(self.scratch.home, ".tavlo5")), before)


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv[1])
    if len(sys.argv) > 2 and os.path.isfile(os.path.join(sys.argv[2], "setup")):
        BUILD_I386 = os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0], "-v"])
