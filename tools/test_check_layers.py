#!/usr/bin/env python3
"""Tests of check_layers.py on small trees of its own."""

import os
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_layers.py")


class CheckLayersTest(unittest.TestCase):
    def verdict(self, files):
        with tempfile.TemporaryDirectory() as root:
            for path, text in files.items():
                os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
                with open(os.path.join(root, path), "w") as f:
                    f.write(text)
            result = subprocess.run([sys.executable, "-B", TOOL, "--root", root], capture_output=True, text=True)
            return result.returncode, result.stderr.splitlines()

    def test_upward_includes_fail_and_the_rest_pass(self):
        cases = [
            # (file, its include, the lines printed)
            ("payload/win32/x.cpp", "launch/launch.h", ["check_layers: payload/win32/x.cpp:2: includes launch/launch.h, above payload/"]),
            ("base/format.cpp", "platform/platform.h", ["check_layers: base/format.cpp:2: includes platform/platform.h, above base/"]),
            ("launch/launch.cpp", "ui/report.h", ["check_layers: launch/launch.cpp:2: includes ui/report.h, above launch/"]),
            ("launch/launch.cpp", "checks/checks.h", ["check_layers: launch/launch.cpp:2: includes checks/checks.h, above launch/"]),
            ("launch/launch.cpp", "launch/processor_mode.h", []),
            ("app/carryall_app.cpp", "ui/report.h", []),
            # A test keeps to its layer, and may use the simulated platform.
            ("ui/report_test.cpp", "app/carryall_app.h", ["check_layers: ui/report_test.cpp:2: includes app/carryall_app.h, above ui/"]),
            ("payload/payload_test.h", "platform/sim/sim_test.h", []),
            ("base/log_test.cpp", "platform/sim/sim_platform.h", []),
            ("base/log.cpp", "platform/sim/sim_platform.h", ["check_layers: base/log.cpp:2: includes platform/sim/sim_platform.h, above base/"]),
            ("app/carryall_app_test.cpp", "app/installer_test.h", []),
            ("fuzz/x.cpp", "app/carryall_app.h", []),
            ("cmdline/x.cpp", "gtest/gtest.h", []),  # not a folder of ours
        ]
        for path, include, lines in cases:
            with self.subTest(path=path, include=include):
                status, printed = self.verdict({path: '// a file\n#include "%s"\n' % include})
                self.assertEqual((1 if lines else 0, lines), (status, printed))

    def test_the_project_has_no_upward_include(self):
        result = subprocess.run([sys.executable, "-B", TOOL], capture_output=True, text=True)
        self.assertEqual((0, ""), (result.returncode, result.stderr))


class CheckStringIdsTest(unittest.TestCase):
    def test_the_constants_and_the_table_name_the_same_ids(self):
        tool = os.path.join(os.path.dirname(TOOL), "check_string_ids.py")
        header = "constexpr uint32_t kIdsProductName = 1;\nconstexpr uint32_t kIdsDotNet20 = 138;\n"
        cases = [
            # (the table's lines, the lines printed)
            ("1\tName\n138\t0\n144\t0\n", []),
            ("# a comment\n\n1\tName\n138\t0\n", []),
            ("138\t0\n", ["check_string_ids: base/string_ids.h: kIdsProductName = 1 is not an id of "
                           "resources/strings.txt"]),
            ("1\tName\n138\t0\n145\t1\n", ["check_string_ids: resources/strings.txt: id 145 has no constant "
                                              "in base/string_ids.h"]),
        ]
        for table, lines in cases:
            with self.subTest(table=table), tempfile.TemporaryDirectory() as root:
                for path, text in (("base/string_ids.h", header), ("resources/strings.txt", table)):
                    os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
                    with open(os.path.join(root, path), "w") as f:
                        f.write(text)
                result = subprocess.run([sys.executable, "-B", tool, "--root", root], capture_output=True, text=True)
                self.assertEqual((1 if lines else 0, lines), (result.returncode, result.stderr.splitlines()))


if __name__ == "__main__":
    unittest.main()
