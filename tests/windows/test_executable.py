"""What the built Windows program is and depends on, read off the file."""

import os
import re
import subprocess
import unittest

PROGRAM = os.environ.get("VESPERIX_EXE", "")
ARCH = os.environ.get("VESPERIX_ARCH", "")
# Windows' own DLLs; the ICMP libraries are bound at run time and the
# toolchain's runtime is linked in.
ALLOWED_IMPORTS = {"kernel32.dll", "msvcrt.dll", "ws2_32.dll"}
FORMATS = {"win32": ("pei-i386", "010b"), "win64": ("pei-x86-64", "020b")}


class Executable(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.path.isfile(PROGRAM), "VESPERIX_EXE does not name the program")
        self.headers = subprocess.run(["objdump", "-p", PROGRAM], check=True, capture_output=True,
                                      text=True).stdout

    def test_it_is_a_console_program_of_its_architecture(self):
        file_format, magic = FORMATS[ARCH]
        self.assertIn("file format " + file_format, self.headers)
        self.assertRegex(self.headers, r"Magic\s+" + magic)
        self.assertRegex(self.headers, r"Subsystem\s+00000003\s+\(Windows CUI\)")

    def test_it_imports_no_icmp_library_and_no_toolchain_runtime(self):
        imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", self.headers)}
        self.assertTrue(imports, "no import table found")
        self.assertLessEqual(imports, ALLOWED_IMPORTS)


if __name__ == "__main__":
    unittest.main()
