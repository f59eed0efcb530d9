"""The launcher's folders include one way only; the check finds a cycle when one is made."""

import contextlib
import io
import pathlib
import tempfile
import unittest

import folder_graph

LAUNCHER = pathlib.Path(__file__).resolve().parents[3] / "launcher"


def run_check(root):
    output = io.StringIO()
    with contextlib.redirect_stdout(output):
        result = folder_graph.main(["folder_graph.py", str(root)])
    return result, output.getvalue()


class FolderGraph(unittest.TestCase):
    def test_the_launcher_has_no_cycle_and_the_shell_sits_on_top(self):
        result, output = run_check(LAUNCHER)
        self.assertEqual(result, 0, output)
        self.assertTrue(output.rstrip().endswith("| shell"), output)
        self.assertIn("common", output.split("|")[0], output)

    def test_a_layer_that_reaches_back_up_is_named_with_its_lines(self):
        with tempfile.TemporaryDirectory() as scratch:
            root = pathlib.Path(scratch)
            files = {
                "log/log_export.cpp": '#include "log_export.h"\n#include "shell/terminal.h"\n',
                "shell/terminal.cpp": '#include "common/status.h"\n#include "log/log.h"\n',
                "common/status.cpp": '#include "status.h"\n',
                "staging/copy.cpp": '#include "common/status.h"\n// #include "shell/terminal.h" is no include\n',
            }
            for name, text in files.items():
                (root / name).parent.mkdir(parents=True, exist_ok=True)
                (root / name).write_text(text)
            result, output = run_check(root)
            self.assertEqual(result, 1, output)
            self.assertIn("log -> shell -> log", output)
            self.assertIn('log/log_export.cpp:2: #include "shell/terminal.h"', output)
            self.assertIn('shell/terminal.cpp:2: #include "log/log.h"', output)
            self.assertNotIn("staging", output)

            (root / "log/log_export.cpp").write_text('#include "log_export.h"\n')
            result, output = run_check(root)
            self.assertEqual(result, 0, output)
            self.assertIn("bottom up: common, log | shell, staging", output)


if __name__ == "__main__":
    unittest.main()
