"""A Debian 12 container booted with a real systemd, for the service test.

The container is made from nothing with debootstrap, runs in namespaces of
its own (processes, mounts, network, host name, IPC, control groups) and ends
when its init is killed; see the `container` script beside this file. Every
probe of the service stays in the container's network namespace.
"""

import ctypes
import json
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CONTAINER = os.path.join(HERE, "container")
INNER_PATH = "PATH=/usr/sbin:/usr/bin:/sbin:/bin"


def die_with_parent():
    """Has the calling process (a child about to exec) killed when its parent
    ends, however that ends."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def mounts_below(folder):
    """Mount points of this mount namespace at or below `folder`."""
    found = []
    with open("/proc/self/mountinfo") as table:
        for line in table:
            point = line.split()[4]
            if point == folder or point.startswith(folder.rstrip("/") + "/"):
                found.append(point)
    return found


class Container:
    def __init__(self):
        # Not /tmp: the root takes about 250 MB.
        self.work = tempfile.mkdtemp(prefix="vesperix-service-", dir="/var/tmp")
        self.root = os.path.join(self.work, "root")
        self.name = "vesperix-service-%d" % os.getpid()
        self.maker = None
        self.process = None
        self.init = None
        self.console = os.path.join(self.work, "console.log")

    def make(self):
        """Starts debootstrap; returns its process, whose output goes to make.log."""
        self.make_log = os.path.join(self.work, "make.log")
        with open(self.make_log, "wb") as log:
            self.maker = subprocess.Popen([CONTAINER, "make", self.root], stdout=log,
                                          stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                          start_new_session=True)
        return self.maker

    def log_tail(self, path, lines=30):
        try:
            with open(path, errors="replace") as log:
                return "".join(log.readlines()[-lines:])
        except OSError:
            return ""

    def boot(self, timeout=90):
        """Boots the container's systemd and waits until it says "running"."""
        with open(self.console, "wb") as console:
            self.process = subprocess.Popen([CONTAINER, "boot", self.root, self.name],
                                            stdout=console, stderr=subprocess.STDOUT,
                                            stdin=subprocess.DEVNULL, start_new_session=True,
                                            preexec_fn=die_with_parent)
        deadline = time.monotonic() + timeout
        # The boot process execs itself into `unshare`, whose one child is the init.
        while self.init is None:
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("the container did not start:\n" + self.log_tail(self.console))
            try:
                with open("/proc/%d/task/%d/children" % (self.process.pid, self.process.pid)) as kids:
                    child = kids.read().split()
                if child:
                    with open("/proc/%s/comm" % child[0]) as comm:
                        if comm.read().strip() == "systemd":
                            self.init = int(child[0])
            except OSError:
                pass
            time.sleep(0.05)
        state = ""
        while time.monotonic() < deadline:
            state = self.run(["systemctl", "is-system-running", "--wait"], check=False,
                             timeout=max(1, deadline - time.monotonic())).stdout.strip()
            if state in ("running", "degraded"):
                break
            time.sleep(0.2)
        if state != "running":
            failed = self.run(["systemctl", "--failed", "--no-legend"], check=False).stdout
            raise AssertionError("the container's systemd is %r; failed units:\n%s\nconsole:\n%s" % (
                state, failed, self.log_tail(self.console)))

    def command(self, args):
        """`args` as run inside the container, with a clean environment."""
        # -r: the init's root. When the test itself runs in a chroot, the
        # container's mount namespace keeps the machine's root as its own,
        # and only the init's root is the container's.
        return ["nsenter", "-t", str(self.init), "-a", "-r", "-w", "env", "-i", INNER_PATH,
                "LANG=C.UTF-8", "DEBIAN_FRONTEND=noninteractive"] + list(args)

    def run(self, args, check=True, timeout=60):
        result = subprocess.run(self.command(args), capture_output=True, text=True,
                                timeout=timeout, stdin=subprocess.DEVNULL)
        if check and result.returncode != 0:
            raise AssertionError("%s failed with status %d:\n%s%s" % (
                " ".join(args), result.returncode, result.stdout, result.stderr))
        return result

    def sh(self, script, check=True, timeout=60):
        return self.run(["sh", "-c", script], check=check, timeout=timeout)

    def sysctl(self, key, value):
        """Sets `key` in the container's network namespace only."""
        subprocess.run(["nsenter", "-t", str(self.init), "-n", "sysctl", "-qw", "%s=%s" % (key, value)],
                       check=True, capture_output=True, timeout=10)

    def icmp_counters(self):
        """The container's ICMP counters from /proc/net/snmp, by name (OutEchos, ...)."""
        with open("/proc/%d/net/snmp" % self.init) as snmp:
            rows = [line.split()[1:] for line in snmp if line.startswith("Icmp:")]
        return dict(zip(rows[0], (int(value) for value in rows[1])))

    def path(self, inner):
        """The host's path of the container's `inner` path: through the
        init's root once it runs, so the container's own mounts (/run) count."""
        top = self.root if self.init is None else "/proc/%d/root" % self.init
        return os.path.join(top, inner.lstrip("/"))

    def unit(self, unit, *names):
        """Properties of `unit`, by name."""
        out = self.run(["systemctl", "show", unit] + ["-p" + name for name in names]).stdout
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)

    def end(self):
        """Kills the init, so the whole container, and removes everything it left."""
        if self.maker is not None and self.maker.poll() is None:
            os.killpg(self.maker.pid, signal.SIGKILL)
            self.maker.wait(timeout=30)
        if self.init is not None:
            try:
                os.kill(self.init, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if self.process is not None:
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
            subprocess.run([CONTAINER, "clean", self.name], check=True, timeout=60)
        left = mounts_below(self.work)
        if left:
            raise AssertionError("mounts left below %s: %s" % (self.work, left))
        shutil.rmtree(self.work, ignore_errors=True)


class Journal:
    """`journalctl -u UNIT -f` in the container, read as each entry comes;
    keeps the lines of the unit's process `pid`."""

    def __init__(self, container, unit, since, pid):
        self.pid = str(pid)
        self.entries = []  # (seconds since the follow began, entry)
        self.started = time.monotonic()
        self.process = subprocess.Popen(
            container.command(["journalctl", "-u", unit, "-f", "-o", "json", "--since", "@%d" % since]),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        self._pending = b""

    def messages(self):
        return [entry.get("MESSAGE") for _, entry in self.entries]

    def read(self, until, timeout):
        """Reads entries until `until(messages)` holds or `timeout` seconds pass."""
        deadline = time.monotonic() + timeout
        while not until(self.messages()):
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            ready, _, _ = select.select([self.process.stdout], [], [], left)
            if not ready:
                continue
            chunk = os.read(self.process.stdout.fileno(), 65536)
            if not chunk:
                return until(self.messages())
            self._pending += chunk
            while b"\n" in self._pending:
                line, self._pending = self._pending.split(b"\n", 1)
                entry = json.loads(line)
                if entry.get("SYSLOG_IDENTIFIER") == "vesperix" and entry.get("_PID") == self.pid:
                    self.entries.append((time.monotonic() - self.started, entry))
        return True

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=10)
        self.process.stdout.close()
