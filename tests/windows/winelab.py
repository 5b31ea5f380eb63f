"""Wine for the tests of the Windows builds: the loader of each program's own
architecture, and fresh prefixes whose services start inside a test's own
network namespace.

A program always runs under the loader of its own architecture: the 32-bit
loader starts a 64-bit program as a separate process (and the other way
round), which a signal sent to the loader would miss.
"""

import errno
import os
import shutil
import struct
import subprocess
import tempfile

WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"
# The PE machine field: the loader, the prefix architecture and the package
# the loader comes from.
MACHINES = {
    0x014C: (WINE32, "win32", "wine32:i386"),
    0x8664: (WINE64, "win64", "wine64"),
}


def machine(program):
    """The PE machine field of the Windows program `program`."""
    with open(program, "rb") as image:
        header = image.read(4096)
    (offset,) = struct.unpack_from("<I", header, 0x3C)
    if header[:2] != b"MZ" or header[offset:offset + 4] != b"PE\0\0":
        raise ValueError("%s is no Windows program" % program)
    (kind,) = struct.unpack_from("<H", header, offset + 4)
    if kind not in MACHINES:
        raise ValueError("%s is for machine 0x%04X, which no Wine loader here runs" % (program, kind))
    return kind


def loader_for(program):
    """The Wine loader that runs `program` in its own process."""
    return MACHINES[machine(program)][0]


def windows_path(path):
    """The name a Wine program gives the file `path` of this machine: on
    drive Z:, which a fresh prefix maps to the root folder."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def unavailable(program):
    """Why `program` can't run under its loader here, or None when it can.
    A kernel that runs no program of the loader's word size (some virtual
    machines' kernels run no 32-bit program) is said as such: no package
    mends it, but the 32-bit program is the one that ships, so under CI it
    is a failure like every other reason."""
    loader, _, package = MACHINES[machine(program)]
    if not os.access(loader, os.X_OK):
        return "needs %s (Debian package %s)" % (loader, package)
    try:
        subprocess.run([loader, "--version"], capture_output=True, timeout=60, check=True)
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            return ("this kernel does not run %s, a %s program: no package mends that"
                    % (loader, "32-bit" if loader == WINE32 else "64-bit"))
        return "%s does not start: %s" % (loader, error)
    except subprocess.SubprocessError as error:
        return "%s --version fails: %s" % (loader, error)
    return None


class Prefix:
    """A fresh Wine prefix for the loader of `program`, of that loader's own
    architecture, made by running wineboot under `command` (which puts a
    command into the test's namespace). A `persistent` prefix keeps its
    wineserver, and the services it runs, for a minute after its last program
    ends rather than a few seconds, so that each program starts in a fraction
    of a second instead of the seconds a new server takes; the minute also
    bounds what a test that is killed before end() leaves behind."""

    def __init__(self, program, command=lambda args: args, persistent=False):
        self.loader, self.architecture, _ = MACHINES[machine(program)]
        self.path = tempfile.mkdtemp(prefix="vesperix-wine-")
        self.env = self.env_with("")
        # The first program of a prefix starts Wine's services, among them the
        # one that does the ICMP work: it must start in the namespace, and
        # before anything is timed.
        try:
            if persistent:
                # It goes on in the background, holding whatever streams it was given.
                subprocess.run(command(["wineserver", "--persistent=60"]), env=self.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=60, check=True)
            # Its services outlive it, holding its streams while the server lasts.
            subprocess.run(command([self.loader, "wineboot", "--init"]), env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=300, check=True)
        except BaseException:
            self.end()
            raise

    def env_with(self, overrides):
        """The environment of a program of this prefix, with the DLL overrides
        `overrides` (such as "iphlpapi=d") on top of the prefix's own."""
        return dict(os.environ, WINEPREFIX=self.path, WINEARCH=self.architecture,
                    WINEDEBUG="-all",
                    WINEDLLOVERRIDES=";".join(filter(None, ["mscoree,mshtml=", overrides])))

    def system32(self, name):
        """The path of `name` in the system directory of the prefix's programs."""
        return os.path.join(self.path, "drive_c", "windows", "system32", name)

    def end(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)
        shutil.rmtree(self.path, ignore_errors=True)
