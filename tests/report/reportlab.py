"""vesperix-report as the tests run it, the same cases for every build.

The Linux program runs as it is. A Windows one (VESPERIX_REPORT_BIN names a
.exe) runs under the Wine loader of its own architecture, in one Wine prefix
for the whole test process, booted in a network namespace of its own before
the first run and removed at exit. Its standard output and error are in the
text mode of the Windows C runtime: every line must end in CR LF, and the
tests get it with LF alone, so that both builds are held to the same bytes
otherwise."""

import atexit
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "windows"))
import netlab  # noqa: E402
import winelab  # noqa: E402

REPORT = os.environ.get("VESPERIX_REPORT_BIN", "")
WINDOWS = REPORT.lower().endswith(".exe")

_wine = None


def unavailable():
    """Why the report can't run here, or None. Only a Windows build can be
    kept from it."""
    if not WINDOWS:
        return None
    if os.geteuid() != 0:
        return "needs root for a network namespace"
    return winelab.unavailable(REPORT)


# How the reason of a skip for a build that can't run here begins; ctest
# (tests/report/CMakeLists.txt) shows a module that says it as skipped.
CANNOT_RUN = "cannot run the report here: "


def skip_unless_available(test):
    """Skips `test` where the report can't run here; under CI (CI=true)
    that is a failure."""
    reason = unavailable()
    if reason is not None:
        netlab.skip_or_fail(test, CANNOT_RUN + reason)


def linux_only(test, why):
    """Skips `test` for a Windows build: its case holds the Linux program to
    a Linux tool (`why` says which), and does not apply to the other. That
    is no gap in the machine, so it is a skip under CI too."""
    if WINDOWS:
        test.skipTest("Linux build only: " + why)


class _Wine:
    """The namespace and the prefix that every run of this process shares."""

    def __init__(self):
        self.namespace = "vxreport%d" % os.getpid()
        subprocess.run(["ip", "netns", "add", self.namespace], check=True, timeout=30)
        self.prefix = None
        atexit.register(self.end)
        subprocess.run(self.command(["ip", "link", "set", "lo", "up"]), check=True, timeout=30)
        self.prefix = winelab.Prefix(REPORT, self.command, persistent=True)

    def command(self, args):
        return ["ip", "netns", "exec", self.namespace] + list(args)

    def end(self):
        if self.prefix is not None:
            self.prefix.end()
        subprocess.run(["ip", "netns", "del", self.namespace], check=False, timeout=30)


def unix_lines(data, what):
    """`data`, a Windows program's `what`, with each CR LF turned into LF;
    a line feed without its carriage return is an error."""
    if data.replace(b"\r\n", b"").count(b"\n"):
        raise AssertionError("%s has a line without CR LF: %r" % (what, data[:400]))
    return data.replace(b"\r\n", b"\n")


def run(args, cwd=None, stdout=subprocess.PIPE, program=None, timeout=120, preexec_fn=None):
    """Runs the report (or the Windows or Linux `program` like it) with the
    arguments `args` in `cwd`; returns its CompletedProcess, with standard
    error and, when it is a pipe, standard output as bytes with LF line ends.
    `preexec_fn` runs in the child before the program, as subprocess runs it:
    what it sets for the process (a resource limit) holds for a Windows
    program too, whose Wine loader that child becomes."""
    global _wine
    program = program or REPORT
    command, env = [program] + list(args), None
    if WINDOWS:
        if isinstance(_wine, Exception):
            raise AssertionError("no Wine prefix: %s" % _wine)
        if _wine is None:
            try:
                _wine = _Wine()
            except (OSError, subprocess.SubprocessError) as error:
                _wine = error  # tried once: the later tests fail at once
                raise
        command, env = _wine.command([_wine.prefix.loader] + command), _wine.prefix.env
    done = subprocess.run(command, cwd=cwd, stdout=stdout, stderr=subprocess.PIPE, env=env,
                          timeout=timeout, preexec_fn=preexec_fn)
    if WINDOWS:
        done.stderr = unix_lines(done.stderr, "standard error")
        if stdout == subprocess.PIPE:
            done.stdout = unix_lines(done.stdout, "standard output")
    return done


def windows_path(path):
    """`path` as a Windows program names it: on drive Z:, as Wine maps the
    root folder."""
    return winelab.windows_path(path)


def native_path(path):
    """`path` as the build's own platform names it: windows_path for a
    Windows build, as it is for a Linux one."""
    return windows_path(path) if WINDOWS else path
