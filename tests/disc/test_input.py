"""What the tool does with the files it is given: which it takes, which it leaves out and why,
and that a build that cannot finish leaves nothing behind."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from disc_support import (FIRST_PATIENT, MAKE_DISC, SECOND_PATIENT, MessyInput, disc_command, files_below,
                          run_disc, sha256, stand_in_programs)


def setUpModule():
    global WORK, INPUT, PROGRAMS
    WORK = tempfile.mkdtemp(prefix="lumidra-disc-input-")
    INPUT = MessyInput(os.path.join(WORK, "export with blanks"))
    PROGRAMS = stand_in_programs(os.path.join(WORK, "programs"))


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


class MessyExport(unittest.TestCase):
    def test_summary_counts_the_study_and_names_every_skipped_file_with_its_reason(self):
        output = os.path.join(WORK, "summary-disc")
        code, out, err = run_disc(INPUT.folder, output, PROGRAMS)
        self.assertEqual(code, 0, err)
        # The synthetic study (its three series and one per encoding), the second patient.
        self.assertIn("patients: 2   studies: 2   series: %d   images: %d" % (
            INPUT.series_count, INPUT.image_count), out)
        self.assertIn("first patient: " + SECOND_PATIENT, out)
        self.assertIn("left off the disc: %d file(s):" % len(INPUT.skipped), out)
        left_off = out[out.index("left off the disc"):]
        skipped_lines = [line.strip() for line in left_off.splitlines() if line.startswith("    ")]
        self.assertEqual(len(skipped_lines), len(INPUT.skipped), out)
        for path, reason in INPUT.skipped.items():
            matching = [line for line in skipped_lines if line.startswith(path + ":")]
            self.assertEqual(len(matching), 1, "%s not listed once in:\n%s" % (path, out))
            self.assertIn(reason, matching[0])
        duplicate = [line for line in skipped_lines if "duplicate" in line][0]
        self.assertIn(os.path.relpath(INPUT.first_ct, INPUT.folder), duplicate)
        self.assertRegex(out, r"disc size: [0-9.]+ MB, fits CD \(700 MB\)")
        # Without a terminal the progress is one line per stage.
        for stage in ("Reading and copying: %d files" % (INPUT.image_count + len(INPUT.skipped)),
                      "DICOMDIR (STD-GEN-MIME): %d files" % INPUT.image_count,
                      "Viewer", "data.zip"):
            self.assertIn(stage, err)

    def test_a_folder_exported_twice_is_summed_up_and_a_real_loss_comes_first(self):
        export = os.path.join(WORK, "exported twice")
        study = os.path.dirname(os.path.dirname(INPUT.first_ct))
        shutil.copytree(study, os.path.join(export, "first"))
        shutil.copytree(study, os.path.join(export, "second"))
        shutil.copyfile(os.path.join(INPUT.folder, "damaged.dcm"), os.path.join(export, "zz damaged.dcm"))
        code, out, err = run_disc(export, os.path.join(WORK, "twice disc"), PROGRAMS)
        self.assertEqual(code, 0, err)
        copies = len(os.listdir(os.path.dirname(INPUT.first_ct)))
        left_off = out[out.index("left off the disc"):].splitlines()
        self.assertEqual(left_off[0], "left off the disc: %d file(s):" % (len(files_below(study)) + 1))
        self.assertTrue(left_off[1].startswith("    zz damaged.dcm: truncated"), left_off)
        self.assertRegex(left_off[2], r"^    second/.*Series 1 .*: %d files: duplicate \(the first: " % copies)
        self.assertTrue(all("second/" in line for line in left_off[2:]), left_off)
        # The CT series in one line; the two MR images and the one CR image one line each.
        self.assertEqual(len(left_off), 2 + 1 + 2 + 1, left_off)

    def test_a_terminal_that_cannot_show_the_names_gets_them_escaped(self):
        output = os.path.join(WORK, "ascii terminal disc")
        result = subprocess.run(disc_command(INPUT.folder, output, PROGRAMS),
                                env=dict(os.environ, PYTHONIOENCODING="ascii"),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"first patient: H\\xe1jkov\\xe1^Ivana", result.stdout)

    def test_names_in_other_character_sets_come_through_in_the_summary(self):
        output = os.path.join(WORK, "names-disc")
        only_first = os.path.join(WORK, "only first patient")
        shutil.copytree(os.path.dirname(os.path.dirname(INPUT.first_ct)), only_first)
        code, out, err = run_disc(only_first, output, PROGRAMS)
        self.assertEqual(code, 0, err)
        self.assertIn("first patient: " + FIRST_PATIENT, out)


class NothingUsable(unittest.TestCase):
    def test_no_image_is_an_error_that_leaves_no_output(self):
        study = os.path.join(WORK, "no images")
        os.makedirs(os.path.join(study, "sub"))
        shutil.copyfile(os.path.join(INPUT.folder, "damaged.dcm"), os.path.join(study, "damaged.dcm"))
        shutil.copyfile(os.path.join(INPUT.folder, "DICOMDIR"), os.path.join(study, "sub", "DICOMDIR"))
        with open(os.path.join(study, "report.pdf"), "wb") as out:
            out.write(b"%PDF-1.4\n")
        output = os.path.join(WORK, "never made")
        iso = os.path.join(WORK, "never made.iso")
        code, out, err = run_disc(study, output, PROGRAMS, "--iso", iso)
        self.assertEqual(code, 1)
        self.assertIn("no usable DICOM image in " + study, err)
        self.assertIn("damaged.dcm: truncated", err)
        self.assertIn("report.pdf: not DICOM", err)
        self.assertEqual(out, "")
        self.assertFalse(os.path.lexists(output))
        self.assertFalse(os.path.lexists(iso))

    def test_an_empty_folder_is_refused_too(self):
        study = os.path.join(WORK, "empty study")
        os.makedirs(study)
        code, _out, err = run_disc(study, os.path.join(WORK, "empty disc"), PROGRAMS)
        self.assertEqual(code, 1)
        self.assertIn("no usable DICOM image", err)
        self.assertFalse(os.path.lexists(os.path.join(WORK, "empty disc")))


class OutputFolder(unittest.TestCase):
    def test_a_folder_with_content_is_kept_unless_the_user_says_to_replace_it(self):
        output = os.path.join(WORK, "in use")
        os.makedirs(output)
        with open(os.path.join(output, "letter.txt"), "w") as out:
            out.write("keep me")
        for options in ((), ("--force",)):
            code, _out, err = run_disc(INPUT.folder, output, PROGRAMS, *options)
            self.assertEqual(code, 1)
            self.assertIn("is not empty" if not options else "is not a disc made by this tool", err)
            self.assertEqual(os.listdir(output), ["letter.txt"])

        code, _out, err = run_disc(INPUT.folder, output, PROGRAMS, "--replace-any-folder")
        self.assertEqual(code, 0, err)
        self.assertFalse(os.path.exists(os.path.join(output, "letter.txt")))
        self.assertTrue(os.path.isfile(os.path.join(output, "DATA", "DICOMDIR")))

    def test_a_forced_build_that_fails_leaves_the_previous_disc_as_it_was(self):
        output = os.path.join(WORK, "previous disc")
        code, _out, err = run_disc(INPUT.folder, output, PROGRAMS)
        self.assertEqual(code, 0, err)
        before = {name: sha256(os.path.join(output, name)) for name in files_below(output)}
        junk = os.path.join(WORK, "junk only")
        os.makedirs(junk)
        with open(os.path.join(junk, "notes.txt"), "w") as out:
            out.write("no images here\n")
        code, _out, err = run_disc(junk, output, PROGRAMS, "--force")
        self.assertEqual(code, 1)
        self.assertIn("no usable DICOM image", err)
        self.assertEqual({name: sha256(os.path.join(output, name)) for name in files_below(output)}, before)

        # Forced over its own disc, a build that succeeds replaces it whole.
        only_first = os.path.join(WORK, "first patient for the forced build")
        shutil.copytree(os.path.dirname(os.path.dirname(INPUT.first_ct)), only_first)
        code, _out, err = run_disc(only_first, output, PROGRAMS, "--force")
        self.assertEqual(code, 0, err)
        images = [name for name in files_below(output) if name.startswith("DATA/DICOM/")]
        self.assertEqual(len(images), len(files_below(only_first)))
        self.assertEqual(sorted(os.listdir(output)), ["AUTORUN.INF", "BIN", "DATA", "DICOMDIR", "INDEX.HTM",
                                                      "README.TXT", "VIEWER", "data.zip", "lumidra", "lumidra.exe"])

    def test_output_inside_the_study_is_refused(self):
        code, _out, err = run_disc(INPUT.folder, os.path.join(INPUT.folder, "disc"), PROGRAMS)
        self.assertEqual(code, 1)
        self.assertIn("must not contain each other", err)
        self.assertFalse(os.path.exists(os.path.join(INPUT.folder, "disc")))

    def test_a_viewer_without_its_config_is_refused_before_anything_is_written(self):
        viewer = os.path.join(WORK, "viewer without config")
        os.makedirs(viewer)
        with open(os.path.join(viewer, "index.html"), "w") as out:
            out.write("<!doctype html>")
        output = os.path.join(WORK, "no viewer disc")
        code, _out, err = run_disc(INPUT.folder, output, PROGRAMS, "--viewer", viewer)
        self.assertEqual(code, 1)
        self.assertIn("config-lumidra.json", err)
        self.assertFalse(os.path.lexists(output))

    def test_a_failing_stage_removes_the_partial_disc(self):
        fake_bin = os.path.join(WORK, "failing-7zip")
        os.makedirs(fake_bin)
        with open(os.path.join(fake_bin, "7zz"), "w") as out:
            out.write("#!/bin/sh\necho 'E_FAIL: disk full' >&2\nexit 2\n")
        os.chmod(os.path.join(fake_bin, "7zz"), 0o755)
        output = os.path.join(WORK, "failed disc")
        # A cache that holds no packed viewer yet: 7-Zip packs it.
        result = subprocess.run(disc_command(INPUT.folder, output, PROGRAMS, "--iso", output + ".iso",
                                             "--viewer-cache", os.path.join(WORK, "no packed viewer")),
                                env=dict(os.environ, PATH=fake_bin + os.pathsep + os.environ["PATH"]),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(result.returncode, 1)
        err = result.stderr.decode("utf-8")
        self.assertIn("7-Zip (packing the viewer) failed (exit 2)", err)
        self.assertIn("E_FAIL: disk full", err)
        self.assertIn("Reading and copying: %d files" % (INPUT.image_count + len(INPUT.skipped)), err)
        self.assertFalse(os.path.lexists(output))
        self.assertFalse(os.path.lexists(output + ".iso"))
        packs = os.path.join(WORK, "no packed viewer")
        self.assertEqual(os.listdir(packs) if os.path.isdir(packs) else [], [])  # nothing kept of a failed pack


class Interrupted(unittest.TestCase):
    """Ctrl+C or a termination signal while the disc is half made removes what was made."""

    def interrupt_while_packing(self, number, name):
        # A 7-Zip that hangs holds the build in the viewer stage, after the images are copied.
        fake_bin = os.path.join(WORK, "hanging-7zip-" + name)
        os.makedirs(fake_bin)
        with open(os.path.join(fake_bin, "7zz"), "w") as out:
            out.write("#!/bin/sh\nexec sleep 60\n")
        os.chmod(os.path.join(fake_bin, "7zz"), 0o755)
        env = dict(os.environ, PATH=fake_bin + os.pathsep + os.environ["PATH"])
        output = os.path.join(WORK, "interrupted " + name)
        process = subprocess.Popen(disc_command(INPUT.folder, output, PROGRAMS, "--viewer-cache", ""), env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        try:
            wait_for(lambda: os.path.isfile(os.path.join(output, "DATA", "DICOMDIR")), 60,
                     "the DICOMDIR to be written")
            # Ctrl+C reaches the whole foreground group, the tool and its 7-Zip alike.
            os.killpg(process.pid, number)
            _out, err = process.communicate(timeout=60)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
        self.assertNotEqual(process.returncode, 0)
        self.assertIn(b"the partial disc was removed", err)
        self.assertFalse(os.path.lexists(output))

    def test_ctrl_c(self):
        self.interrupt_while_packing(signal.SIGINT, "sigint")

    def test_termination_signal(self):
        self.interrupt_while_packing(signal.SIGTERM, "sigterm")


class Interpreter(unittest.TestCase):
    """Callers start the tools with whatever python3 they find; one without pydicom hands over
    to one that has it."""

    def run_tool(self, python_options, env_changes):
        env = dict(os.environ, **env_changes)
        return subprocess.run([sys.executable] + python_options + [MAKE_DISC, "--help"], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def test_a_python_that_cannot_import_pydicom_hands_over(self):
        # -S hides the site packages, pydicom among them, from this interpreter only.
        result = self.run_tool(["-S"], {"LUMIDRA_PYTHON": sys.executable})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"STUDY_FOLDER", result.stdout)

    def test_without_any_python_with_pydicom_the_error_says_so(self):
        # As after a hand-over that found no pydicom either: no second one is tried.
        result = self.run_tool(["-S"], {"LUMIDRA_PYDICOM_REEXEC": "1"})
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"needs pydicom", result.stderr)
        self.assertEqual(result.stdout, b"")


if __name__ == "__main__":
    unittest.main()
