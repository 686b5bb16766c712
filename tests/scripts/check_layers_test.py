#!/usr/bin/env python3
"""scripts/check-layers over copies of the tree: a clean copy of display/ passes, and a script
stack call planted in it (or in another subsystem) fails the check, naming the file and line.

Usage: check_layers_test.py <source root>
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else
                       os.path.join(os.path.dirname(__file__), "..", ".."))
CHECK = os.path.join(ROOT, "scripts", "check-layers")


class CheckLayersTest(unittest.TestCase):
    def setUp(self):
        self.tree = tempfile.mkdtemp(prefix="check_layers_")
        shutil.copytree(os.path.join(ROOT, "display"), os.path.join(self.tree, "display"))

    def tearDown(self):
        shutil.rmtree(self.tree)

    def run_check(self):
        done = subprocess.run([sys.executable, CHECK, self.tree], capture_output=True, text=True)
        return done.returncode, done.stdout.splitlines()

    def plant(self, rel, text):
        """Writes a file of the copy; its lines are `text`'s. Returns the path."""
        path = os.path.join(self.tree, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def test_the_copy_of_display_is_clean(self):
        code, lines = self.run_check()
        self.assertEqual((code, lines), (0, []))

    def test_stack_calls_fail_with_their_file_and_line(self):
        # (file, its text, the finding's line number and the call named), one row per kind.
        cases = [
            ("display/planted.cpp",
             "// A reader that slipped below libs/.\n"
             "namespace qv {\n"
             "int Width(qvScriptState* L) { return VmCheckInt(L, 1); }\n"
             "}\n", 3, "VmCheckInt"),
            ("display/planted_field.cpp",
             "void F(qvScriptState* L, int32_t* w) {\n"
             "  GetFieldInt(L, 2, \"width\", w, nullptr);\n"
             "}\n", 2, "GetFieldInt"),
            ("media/planted.cpp", "\n\nint n = VmGetTop (L);\n", 3, "VmGetTop"),
            ("text/layout.cpp", "void G(qvScriptState* L) { VmPushNumber(L, 1); }\n", 1,
             "VmPushNumber"),
        ]
        for rel, text, line, call in cases:
            with self.subTest(rel=rel):
                self.plant(rel, text)
                code, lines = self.run_check()
                os.remove(os.path.join(self.tree, rel))
                self.assertEqual(code, 1)
                self.assertEqual(len(lines), 1, lines)
                self.assertTrue(lines[0].startswith(f"{rel}:{line}: stack-call: "), lines[0])
                self.assertIn(call, lines[0])

    def test_a_call_planted_into_a_real_file_names_its_line(self):
        path = os.path.join(self.tree, "display", "display_object.cpp")
        with open(path, encoding="utf-8") as f:
            lines = f.readlines()
        lines.insert(20, "int planted = VmToNumber(L, 4);\n")
        with open(path, "w", encoding="utf-8") as f:
            f.writelines(lines)
        code, found = self.run_check()
        self.assertEqual(code, 1)
        self.assertEqual(found, ["display/display_object.cpp:21: stack-call: display/ calls "
                                 "VmToNumber; only libs/ reads the script stack, the subsystems "
                                 "take values"])

    def test_what_is_no_stack_call(self):
        # Comments, texts, other names that merely start alike, and the libraries themselves.
        self.plant("display/quiet.cpp",
                   "// VmPushString(L, key) was read here once\n"
                   "/* GetFieldInt(L, 1, \"x\", &x, nullptr);\n"
                   "   VmSetTop(L, -2); */\n"
                   "const char* kName = \"VmGetTop(L)\";\n"
                   "int MyVmGetTop(int n);\n"
                   "qvScriptState* machine = state->L;  // an opaque handle, passed on\n")
        self.plant("libs/reader.cpp", "int w = VmCheckInt(L, 1);\n")
        code, lines = self.run_check()
        self.assertEqual((code, lines), (0, []))


    def test_text_stands_between_the_image_engine_and_the_displays(self):
        # Fonts and layout draw into bitmaps without a display: text/ may use image/, and
        # display/ may use text/, never the other way.
        self.plant("image/image.h", "#pragma once\n")
        self.plant("text/fonts.h", "#pragma once\n#include \"image/image.h\"\n")
        self.plant("display/labels.cpp", "#include \"text/fonts.h\"\n")
        code, lines = self.run_check()
        self.assertEqual((code, lines), (0, []))
        self.plant("text/layout.cpp", "#include \"display/display.h\"\n")
        code, lines = self.run_check()
        self.assertEqual(code, 1)
        self.assertEqual(len(lines), 1, lines)
        self.assertTrue(lines[0].startswith("text/layout.cpp:1: "), lines[0])
        self.assertIn("display/display.h", lines[0])


if __name__ == "__main__":
    unittest.main(verbosity=2)
