"""Network namespaces and monitor runs for the end-to-end tests.

Every namespace is made by the test that uses it and removed after it, and
every address a test probes lives in one of them, so no packet can leave the
machine. Every wait is bounded.
"""

import itertools
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import tempfile
import termios
import time
import unittest

VESPERIX = os.environ.get("VESPERIX_BIN", "")
NOBODY_UID = 65534
NOBODY_GID = 65534

_names = itertools.count()


def skip_or_fail(test, reason):
    """Skips `test`, which can't run here for `reason`; under CI (CI=true),
    which must run every test, fails it instead."""
    if os.environ.get("CI") == "true":
        test.fail(reason + " (a skip is a failure under CI)")
    test.skipTest(reason)


def require_namespaces(test, program=None):
    """Skips `test` without root, iproute2 or the built `program` (the Linux
    one unless named), except under CI, where it fails."""
    program = program or VESPERIX
    missing = None
    if os.geteuid() != 0:
        missing = "needs root to make network namespaces"
    elif shutil.which("ip") is None:
        missing = "needs iproute2's ip"
    elif not program or not os.path.isfile(program):
        missing = "the built program is not there: %r" % program
    if missing is not None:
        skip_or_fail(test, missing)


def run(args, check=True, **kwargs):
    return subprocess.run(args, check=check, capture_output=True, text=True, timeout=30, **kwargs)


class Namespace:
    """A network namespace of the test's own, with its loopback up."""

    def __init__(self, test):
        self.name = "vx%d-%d" % (os.getpid(), next(_names))
        run(["ip", "netns", "add", self.name])
        test.addCleanup(self.remove)
        run(["ip", "-n", self.name, "link", "set", "lo", "up"])
        # Both socket kinds have to be chosen on purpose: no group may use
        # datagram ICMP sockets until a test says so.
        self.sysctl("net.ipv4.ping_group_range", "1 0")

    def sysctl(self, key, value):
        run(["ip", "netns", "exec", self.name, "sysctl", "-qw", "%s=%s" % (key, value)])

    def allow_datagram_icmp(self):
        self.sysctl("net.ipv4.ping_group_range", "0 2147483647")

    def command(self, args):
        """`args` run inside this namespace; `ip netns exec` execs, so the pid is kept."""
        return ["ip", "netns", "exec", self.name] + list(args)

    def sockets(self, kind):
        """Lines of /proc/net/<kind> (raw or icmp) of this namespace, header dropped."""
        return run(self.command(["cat", "/proc/net/" + kind])).stdout.splitlines()[1:]

    def icmp_counters(self):
        """This namespace's ICMP counters from /proc/net/snmp, by name (InMsgs, ...)."""
        rows = [line.split()[1:] for line in
                run(self.command(["cat", "/proc/net/snmp"])).stdout.splitlines()
                if line.startswith("Icmp:")]
        return dict(zip(rows[0], (int(value) for value in rows[1])))

    def remove(self):
        run(["ip", "netns", "del", self.name], check=False)


def link(test, near, far, near_address, far_address, prefix=24):
    """A veth pair from namespace `near` to `far`, addressed and up."""
    # Names are unique across test processes too: at most 15 characters.
    tag = "%x%x" % (os.getpid() & 0xFFFFF, next(_names))
    a, b = "va" + tag, "vb" + tag
    run(["ip", "link", "add", a, "netns", near.name, "type", "veth", "peer", "name", b,
         "netns", far.name])
    run(["ip", "-n", near.name, "addr", "add", "%s/%d" % (near_address, prefix), "dev", a])
    run(["ip", "-n", far.name, "addr", "add", "%s/%d" % (far_address, prefix), "dev", b])
    run(["ip", "-n", near.name, "link", "set", a, "up"])
    run(["ip", "-n", far.name, "link", "set", b, "up"])
    return a, b


SOCKET_KINDS = ("raw", "datagram")


def client_namespace(test, kind):
    """A namespace in which root's programs get `kind` ICMP sockets: "raw"
    (datagram ones are forbidden to every group) or "datagram" (allowed to all)."""
    namespace = Namespace(test)
    if kind == "datagram":
        namespace.allow_datagram_icmp()
    elif kind != "raw":
        raise ValueError(kind)
    return namespace


def silent_host(test, client, address="10.77.0.2"):
    """A namespace at `address`, one veth hop from `client`, whose kernel never answers echo."""
    host = Namespace(test)
    link(test, client, host, "10.77.0.1", address)
    host.sysctl("net.ipv4.icmp_echo_ignore_all", "1")
    return host


def program_copy(test):
    """The program and its echo provider, laid out as installed, in a folder
    any user may enter; returns the program's path."""
    folder = tempfile.mkdtemp(prefix="vesperix-bin-")
    test.addCleanup(shutil.rmtree, folder, True)
    os.chmod(folder, 0o755)
    stage = os.path.dirname(os.path.dirname(VESPERIX))
    for part in ("bin", os.path.join("lib", "vesperix")):
        shutil.copytree(os.path.join(stage, part), os.path.join(folder, part))
    for root, folders, _ in os.walk(folder):
        for name in folders:
            os.chmod(os.path.join(root, name), 0o755)
    return os.path.join(folder, "bin", "vesperix")


def as_nobody(args):
    return ["setpriv", "--reuid=%d" % NOBODY_UID, "--regid=%d" % NOBODY_GID, "--clear-groups"] + list(args)


class Monitor:
    """One running vesperix. With `terminal`, its standard output is a
    pseudo-terminal, so each line arrives when it is written and is time-stamped;
    otherwise it is a pipe and arrives at exit."""

    def __init__(self, test, namespace, args, terminal=False, user=None, program=None, cwd=None,
                 env=None, launcher=()):
        self.lines = []  # (seconds since start, text) with a terminal
        self.terminal = terminal
        self.cwd = cwd or tempfile.mkdtemp(prefix="vesperix-run-")
        if cwd is None:
            test.addCleanup(shutil.rmtree, self.cwd, True)
            os.chmod(self.cwd, 0o777)
        # `launcher` runs the program, as wine64 runs a Windows one.
        command = list(launcher) + [program or VESPERIX] + list(args)
        if user == "nobody":
            command = as_nobody(command)
        command = namespace.command(command)
        self.master = None
        stdout = subprocess.PIPE
        if terminal:
            self.master, slave = pty.openpty()
            attributes = termios.tcgetattr(slave)
            attributes[1] &= ~termios.OPOST  # no CR inserted before LF
            termios.tcsetattr(slave, termios.TCSANOW, attributes)
            stdout = slave
        self.started = time.monotonic()
        self.process = subprocess.Popen(command, stdout=stdout, stderr=subprocess.PIPE,
                                        stdin=subprocess.DEVNULL, cwd=self.cwd, env=env)
        if terminal:
            os.close(slave)
        self._pending = b""
        test.addCleanup(self.kill)

    def signal(self, sig=signal.SIGINT):
        self.signalled = time.monotonic()
        self.process.send_signal(sig)

    def read_lines(self, until, timeout):
        """Reads terminal lines until `until(lines)` holds or `timeout` seconds pass."""
        deadline = time.monotonic() + timeout
        while not until(self.lines):
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            ready, _, _ = select.select([self.master], [], [], left)
            if not ready:
                continue
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                return until(self.lines)
            self._collect(chunk)
        return True

    def _collect(self, chunk):
        self._pending += chunk
        while b"\n" in self._pending:
            line, self._pending = self._pending.split(b"\n", 1)
            self.lines.append((time.monotonic() - self.started, line.decode(errors="replace")))

    def wait(self, timeout=10):
        """Waits for the exit; returns (status, stdout text, stderr text)."""
        if self.terminal:
            self.read_lines(lambda lines: self.process.poll() is not None, timeout)
            self._drain_terminal()
            out = "".join(text + "\n" for _, text in self.lines)
            err = self.process.stderr.read().decode(errors="replace")
            status = self.process.wait(timeout=timeout)
        else:
            raw_out, raw_err = self.process.communicate(timeout=timeout)
            out, err, status = raw_out.decode(errors="replace"), raw_err.decode(errors="replace"), self.process.returncode
        self.ended = time.monotonic()
        return status, out, err

    def _drain_terminal(self):
        while True:
            ready, _, _ = select.select([self.master], [], [], 0.2)
            if not ready:
                return
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                return
            if not chunk:
                return
            self._collect(chunk)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=10)
        for stream in (self.process.stdout, self.process.stderr):
            if stream is not None:
                stream.close()
        if self.master is not None:
            os.close(self.master)
            self.master = None


def row_fields(line):
    """The round-trip and detail fields of the log row that goes with the
    console `line`: "7ms" -> ("7", ""), "Unknown error (120)." -> ("-1",
    "120"), any other text -> ("-1", text)."""
    match = re.fullmatch(r"(\d+)ms", line)
    if match:
        return match.group(1), ""
    match = re.fullmatch(r"Unknown error \((\d+)\)\.", line)
    if match:
        return "-1", match.group(1)
    return "-1", line


def log_rows(folder):
    """Every row of the daily logs in `folder`, oldest day first, as lists of
    fields; a row must end in CR LF and have four fields."""
    rows = []
    for name in sorted(os.listdir(folder)):
        if not re.fullmatch(r"\d{4}-\d\d-\d\d\.tsv", name):
            continue
        with open(os.path.join(folder, name), "rb") as log:
            data = log.read().decode("latin-1")
        for row in data.split("\r\n")[:-1]:
            rows.append(row.split("\t"))
        if data and not data.endswith("\r\n"):
            rows.append(["partial row", data.rsplit("\r\n", 1)[-1]])
    return rows


def check_log_rows(test, folder, target, lines, timeout=3.0):
    """Checks that the day's log in `folder` has, first, one row per console
    line in `lines`, in order, for `target`, each with the same outcome."""
    deadline = time.monotonic() + timeout
    while len(log_rows(folder)) < len(lines) and time.monotonic() < deadline:
        time.sleep(0.05)
    rows = log_rows(folder)[:len(lines)]
    test.assertEqual(len(rows), len(lines), rows)
    for line, row in zip(lines, rows):
        test.assertEqual(len(row), 4, row)
        test.assertRegex(row[0], r"^\d\d:\d\d:\d\d$")
        test.assertEqual([row[1]] + row[2:], [target] + list(row_fields(line)), line)


class NamespaceTest(unittest.TestCase):
    program_under_test = None  # the Linux program

    def setUp(self):
        require_namespaces(self, self.program_under_test)
