"""What the built Windows programs are and depend on, read off the files,
and what their release zip holds."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile

PROGRAMS = {"vesperix": os.environ.get("VESPERIX_EXE", ""),
            "vesperix-report": os.environ.get("VESPERIX_REPORT", "")}
ARCH = os.environ.get("VESPERIX_ARCH", "")
BUILD_DIR = os.environ.get("VESPERIX_BUILD_DIR", "")
README = os.path.join(os.environ.get("VESPERIX_SOURCE_DIR", ""), "README.md")
# Windows' own DLLs; the ICMP libraries are bound at run time and the
# toolchain's runtime is linked in.
ALLOWED_IMPORTS = {"kernel32.dll", "msvcrt.dll", "ws2_32.dll"}
FORMATS = {"win32": ("pei-i386", "010b"), "win64": ("pei-x86-64", "020b")}
# A release is one folder: both programs, the README and the licence.
RELEASE = {"vesperix.exe", "vesperix-report.exe", "README.md", "LICENSE"}


class Executable(unittest.TestCase):
    def headers(self, name):
        program = PROGRAMS[name]
        self.assertTrue(os.path.isfile(program), "the environment names no %s: %r" % (name, program))
        return subprocess.run(["objdump", "-p", program], check=True, capture_output=True,
                              text=True).stdout

    def test_each_is_a_console_program_of_its_architecture(self):
        file_format, magic = FORMATS[ARCH]
        for name in PROGRAMS:
            with self.subTest(name):
                headers = self.headers(name)
                self.assertIn("file format " + file_format, headers)
                self.assertRegex(headers, r"Magic\s+" + magic)
                self.assertRegex(headers, r"Subsystem\s+00000003\s+\(Windows CUI\)")

    def test_each_imports_no_icmp_library_and_no_toolchain_runtime(self):
        for name in PROGRAMS:
            with self.subTest(name):
                imports = {dll.lower() for dll in re.findall(r"DLL Name: (\S+)", self.headers(name))}
                self.assertTrue(imports, "no import table found")
                self.assertLessEqual(imports, ALLOWED_IMPORTS)


def windows_section_names():
    """The files the README's Windows section names: each `name.exe`, and
    each program its command examples run."""
    with open(README, encoding="utf-8") as readme:
        section = readme.read().split("\n## Windows\n")[1].split("\n## ")[0]
    names = set(re.findall(r"`([\w.-]+\.exe)\b", section))
    for block in re.findall(r"```bat\n(.*?)```", section, re.S):
        names.update(os.path.basename(line.split()[0].replace("\\", "/"))
                     for line in block.splitlines() if line.strip())
    return names


class Release(unittest.TestCase):
    def test_the_zip_holds_both_programs_and_everything_the_readme_names_for_windows(self):
        scratch = tempfile.mkdtemp(prefix="vesperix-release-")
        self.addCleanup(shutil.rmtree, scratch, True)
        subprocess.run(["cpack", "-G", "ZIP", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"),
                        "-B", scratch], check=True, capture_output=True, timeout=300)
        (archive,) = [name for name in os.listdir(scratch) if name.endswith(".zip")]
        self.assertRegex(archive, r"^vesperix-\d+\.\d+\.\d+-%s\.zip$" % ARCH)
        with zipfile.ZipFile(os.path.join(scratch, archive)) as release:
            members = [info.filename for info in release.infolist() if not info.is_dir()]
            top = archive[:-len(".zip")] + "/"
            self.assertEqual({member[len(top):] for member in members if member.startswith(top)}, RELEASE,
                             members)
            self.assertEqual(len(members), len(RELEASE), members)
            with open(README, "rb") as readme:
                self.assertEqual(release.read(top + "README.md"), readme.read())
        names = windows_section_names()
        self.assertIn("vesperix-report.exe", names)
        self.assertLessEqual(names, RELEASE)


if __name__ == "__main__":
    unittest.main()
