"""The Debian package, installed on a fresh Debian 12 and run as the systemd
service vesperix@<target>, in a container booted with a real systemd.

The package is built with scripts/package; the container's root is made with
debootstrap for each run (nothing is cached). Every probe goes to 127.0.0.0/8
inside the container's own network namespace.
"""

import glob
import json
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

from service_container import Container, Journal

SOURCE_DIR = os.environ.get("VESPERIX_SOURCE_DIR", "")
UNIT = "vesperix@127.0.0.1.service"
LOGS = "/var/log/vesperix"
# systemd keeps a dynamic user's logs here, behind the link /var/log/vesperix.
PRIVATE_LOGS = "/var/log/private/vesperix"
ROW = re.compile(r"(\d\d:\d\d:\d\d)\t(127\.0\.0\.\d+)\t(-1|\d+)\t([^\t\r\n]*)")
CAPABILITY_SETS = ("CapInh", "CapPrm", "CapEff", "CapAmb")
DATAGRAM_ALLOWED = "0 2147483647"  # every group
DATAGRAM_REFUSED = "1 0"  # no group: the kernel's default, which Debian 12 keeps
# What the container's state is compared without: package manager records,
# caches, the journal, and the file systems that live only while it runs.
SNAPSHOT = ("find / -xdev \\( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp"
            " -o -path /var/tmp -o -path /root -o -path /var/cache -o -path /var/lib/apt"
            " -o -path /var/lib/dpkg -o -path /var/log/journal -o -path /var/log/apt"
            " -o -path /var/log/dpkg.log -o -path /var/log/alternatives.log \\) -prune -o -print")


def note(text):
    """Shows `text` in the test's output."""
    print(text, file=sys.stderr, flush=True)


def unmet_needs():
    """Why this machine can't run the test, or None."""
    if os.geteuid() != 0:
        return "needs root to boot a container"
    for tool in ("unshare", "nsenter", "sysctl"):
        if shutil.which(tool) is None:
            return "needs %s" % tool
    if not os.path.isfile(os.path.join(SOURCE_DIR, "scripts", "package")):
        return "VESPERIX_SOURCE_DIR does not name the source folder"
    return None


def build_package():
    """Runs scripts/package; returns the .deb's path and lintian's lines."""
    result = subprocess.run([os.path.join(SOURCE_DIR, "scripts", "package")], cwd=SOURCE_DIR,
                            capture_output=True, text=True, timeout=1200, stdin=subprocess.DEVNULL)
    output = result.stdout + result.stderr
    if result.returncode != 0:
        raise AssertionError("scripts/package failed:\n" + output[-6000:])
    debs = [path for path in glob.glob(os.path.join(SOURCE_DIR, "build", "package", "*.deb"))
            if re.fullmatch(r"vesperix_[^_]+_[^_]+\.deb", os.path.basename(path))]
    if len(debs) != 1:
        raise AssertionError("scripts/package made %r" % debs)
    tags = [line for line in output.splitlines() if re.match(r"[EWIPXON]: ", line)]
    return debs[0], tags


class Service(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = unmet_needs()
        if missing is not None:
            if os.environ.get("CI") == "true":
                raise AssertionError(missing + " (a skip is a failure under CI)")
            raise unittest.SkipTest(missing)
        cls.container = container = Container()
        cls.addClassCleanup(container.end)
        began = time.monotonic()
        # debootstrap waits mostly for the mirror, the package build for the
        # processors: they run side by side.
        making = container.make()
        cls.deb, tags = build_package()
        built = time.monotonic()
        if making.wait(timeout=900) != 0:
            raise AssertionError("debootstrap failed:\n" + container.log_tail(container.make_log))
        made = time.monotonic()
        note("package %s built in %.0f s; lintian: %s" % (
            os.path.basename(cls.deb), built - began, "\n  ".join([""] + tags) if tags else "no tag"))
        note("Debian 12 root made in %.0f s" % (made - began))
        shutil.copy(cls.deb, container.path("/root"))
        container.boot()
        note("container booted in %.1f s" % (time.monotonic() - made))
        cls.fresh = cls.snapshot()
        # The README's install command, on a Debian 12 that has never seen vesperix.
        cls.install()

    @classmethod
    def install(cls):
        cls.container.sh("cd /root && apt-get install -y ./vesperix_*.deb", timeout=300)

    @classmethod
    def snapshot(cls):
        return set(cls.container.sh(SNAPSHOT).stdout.splitlines())

    def setUp(self):
        # Every test starts from the installed package with no instance, no
        # log and the kernel's settings as Debian 12 boots with them: ICMP
        # datagram sockets refused, so the monitor uses a raw one.
        c = self.container
        c.sh("systemctl stop 'vesperix@*.service'; "
             "rm -f /etc/systemd/system/*.wants/vesperix@*.service; "
             "rm -rf /run/systemd/system/vesperix@*.service.d; "
             "systemctl daemon-reload; systemctl reset-failed 'vesperix@*.service'; "
             "rm -f %s/*.tsv; true" % PRIVATE_LOGS)
        c.sysctl("net.ipv4.ping_group_range", DATAGRAM_REFUSED)
        c.sysctl("net.ipv4.icmp_echo_ignore_all", "0")

    # Helpers

    def start(self, *units):
        """`systemctl enable --now` of `units`; returns the time before it."""
        since = int(time.time()) - 1
        self.container.run(["systemctl", "enable", "--now"] + list(units))
        return since

    def follow(self, unit, since):
        """The journal of `unit`'s current run, followed."""
        journal = Journal(self.container, unit, since, self.main_pid(unit))
        self.addCleanup(journal.close)
        return journal

    def main_pid(self, unit):
        props = self.container.unit(unit, "MainPID", "ActiveState")
        self.assertEqual(props["ActiveState"], "active", unit)
        return int(props["MainPID"])

    def assert_exited_0(self, unit):
        # An enabled instance stays loaded, so its last exit can be read.
        self.assertEqual(self.container.unit(unit, "Result", "ExecMainCode", "ExecMainStatus"),
                         {"Result": "success", "ExecMainCode": "1", "ExecMainStatus": "0"}, unit)

    def messages(self, unit, since, until=lambda lines: "Ctrl+C" in lines, timeout=10, pid=None):
        """The program's own journal lines of `unit`'s last run (or of its
        process `pid`), once `until` holds."""
        # By process: the lines a process leaves as it exits reach the journal
        # after it, when the run they belong to can't be looked up any more.
        pid = str(pid or self.container.unit(unit, "ExecMainPID")["ExecMainPID"])
        deadline = time.monotonic() + timeout
        while True:
            out = self.container.run(["journalctl", "-u", unit, "-o", "json", "--since", "@%d" % since]).stdout
            lines = [entry.get("MESSAGE") for entry in map(json.loads, out.splitlines())
                     if entry.get("SYSLOG_IDENTIFIER") == "vesperix" and entry.get("_PID") == pid]
            if until(lines) or time.monotonic() > deadline:
                return lines
            time.sleep(0.2)

    def rows(self):
        """Every row of the daily logs, checked whole: [(time, target, rtt, detail)]."""
        rows = []
        for path in sorted(glob.glob(self.container.path(PRIVATE_LOGS + "/*.tsv"))):
            self.assertRegex(os.path.basename(path), r"^\d{4}-\d\d-\d\d\.tsv$")
            with open(path, "rb") as log:
                data = log.read().decode()
            # The day's file is made when its first cycle begins, and gets its
            # row when the cycle ends.
            self.assertTrue(data == "" or data.endswith("\r\n"), "a partial row ends %s: %r" % (path, data[-200:]))
            for row in data.split("\r\n")[:-1]:
                match = ROW.fullmatch(row)
                self.assertIsNotNone(match, "not a whole row: %r" % row)
                rows.append(match.groups())
        return rows

    def wait_for(self, condition, timeout, what):
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                self.fail("not within %d s: %s" % (timeout, what))
            time.sleep(0.1)

    def task_status(self, pid):
        """{thread id: {field: value}} of /proc/PID/task/*/status in the container."""
        out = self.container.sh("cd /proc/%d/task && for t in *; do echo \"task $t\"; cat $t/status; done" % pid).stdout
        tasks, fields = {}, None
        for line in out.splitlines():
            if line.startswith("task "):
                fields = tasks.setdefault(line.split()[1], {})
            elif ":\t" in line:
                name, value = line.split(":\t", 1)
                fields[name] = value.strip()
        return tasks

    def icmp_sockets(self, kind, uid):
        """The container's ICMP sockets of `kind` (raw or icmp) owned by `uid`."""
        lines = self.container.run(["cat", "/proc/net/" + kind]).stdout.splitlines()[1:]
        return [line for line in lines if line.split()[7] == str(uid)]

    # Tests

    def test_the_package_holds_both_programs_the_provider_pages_unit_readme_and_copyright(self):
        name = re.fullmatch(r"vesperix_([^_]+)_([^_]+)\.deb", os.path.basename(self.deb))
        arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True).stdout.strip()
        self.assertEqual(name.group(2), arch)
        self.assertEqual(self.container.run(["vesperix", "--version"]).stdout, "vesperix %s\n" % name.group(1))
        files = set(self.container.run(["dpkg", "-L", "vesperix"]).stdout.split())
        for path in ("/usr/bin/vesperix", "/usr/bin/vesperix-report", "/usr/lib/vesperix/libvesperix-icmp.so",
                     "/usr/share/man/man1/vesperix.1.gz", "/usr/share/man/man1/vesperix-report.1.gz",
                     "/lib/systemd/system/vesperix@.service", "/usr/share/doc/vesperix/README.md.gz",
                     "/usr/share/doc/vesperix/copyright"):
            self.assertIn(path, files)
        # Computed from the programs' libraries, versioned as they need.
        depends = subprocess.run(["dpkg-deb", "-f", self.deb, "Depends"], capture_output=True,
                                 text=True, check=True).stdout
        self.assertRegex(depends, r"\blibc6 \(>= [\d.]+\)")
        unit = self.container.run(["systemctl", "cat", "vesperix@.service"]).stdout
        self.assertIn("ExecStart=/usr/bin/stdbuf -oL /usr/bin/vesperix %i", unit)

    def test_each_console_line_reaches_the_journal_as_it_is_printed_and_no_capability_is_left(self):
        # Where every group may open ICMP datagram sockets the program takes
        # one; where that is refused, as on Debian 12, the ambient CAP_NET_RAW
        # lets it open a raw one.
        for kind, group_range in (("icmp", DATAGRAM_ALLOWED), ("raw", DATAGRAM_REFUSED)):
            with self.subTest(socket=kind):
                self.setUp()
                self.container.sysctl("net.ipv4.ping_group_range", group_range)
                since = self.start(UNIT)
                journal = self.follow(UNIT, since)
                self.assertTrue(journal.read(lambda lines: len(lines) >= 1, 15), journal.messages())
                # Two more lines, each as it is printed, a second apart, while
                # the monitor runs on: none waits for its exit.
                first = len(journal.messages())
                self.assertTrue(journal.read(lambda lines: len(lines) >= first + 2, 6), journal.messages())
                self.assertGreater(journal.entries[-1][0] - journal.entries[-2][0], 0.5)
                pid = self.main_pid(UNIT)
                self.wait_for(lambda: any(row[1] == "127.0.0.1" for row in self.rows()), 10,
                              "a row in the day's log")
                tasks = self.task_status(pid)
                for task, fields in tasks.items():
                    for name in CAPABILITY_SETS:
                        self.assertEqual(int(fields[name], 16), 0, "%s of thread %s" % (name, task))
                uid = tasks[str(pid)]["Uid"].split()[0]
                self.assertNotEqual(uid, "0")
                self.assertEqual(len(self.icmp_sockets(kind, uid)), 1, kind)
                self.assertEqual(self.icmp_sockets("raw" if kind == "icmp" else "icmp", uid), [])
                self.container.run(["systemctl", "stop", UNIT])
                self.assert_exited_0(UNIT)
                lines = self.messages(UNIT, since)
                self.assertEqual(lines.count("Ctrl+C"), 1, lines)
                for line in lines:
                    self.assertRegex(line, r"^(\d+ms|Ctrl\+C)$")
                note("%s socket: %d console lines in the journal, %d rows, threads %s without capabilities"
                     % (kind, len(lines), len(self.rows()), sorted(tasks)))

    def test_without_stdbuf_the_lines_wait_in_the_buffer_until_the_exit(self):
        # Shows what the unit's stdbuf is for: the same unit with the program
        # started directly.
        dropin = self.container.path("/run/systemd/system/%s.d" % UNIT)
        os.makedirs(dropin)
        with open(os.path.join(dropin, "direct.conf"), "w") as conf:
            conf.write("[Service]\nExecStart=\nExecStart=/usr/bin/vesperix %i\n")
        self.container.run(["systemctl", "daemon-reload"])
        since = self.start(UNIT)
        journal = self.follow(UNIT, since)
        self.assertFalse(journal.read(lambda lines: len(lines) > 0, 4), journal.messages())
        self.wait_for(lambda: len(self.rows()) >= 3, 10, "3 rows")
        self.main_pid(UNIT)
        self.container.run(["systemctl", "stop", UNIT])
        self.assertTrue(journal.read(lambda lines: "Ctrl+C" in lines, 10), journal.messages())
        self.assertGreaterEqual(len(journal.messages()), 4)

    def test_stop_lets_the_cycle_under_way_finish_write_its_row_and_exit_0(self):
        # No echo is answered: every cycle waits the full timeout, the longest
        # cycle there is.
        c = self.container
        c.sysctl("net.ipv4.icmp_echo_ignore_all", "1")
        since = self.start(UNIT)
        self.wait_for(lambda: len(self.rows()) >= 1, 10, "the first row")
        # The next request leaves: stop 300 ms into its 1000 ms wait.
        sent = c.icmp_counters()["OutEchos"]
        self.wait_for(lambda: c.icmp_counters()["OutEchos"] > sent, 5, "the next echo request")
        time.sleep(0.3)
        began = time.monotonic()
        c.run(["systemctl", "stop", UNIT])
        took = time.monotonic() - began
        self.assert_exited_0(UNIT)
        lines = self.messages(UNIT, since, until=lambda lines: "Ctrl+C" in lines and lines[-1] != "Ctrl+C")
        self.assertIn("Ctrl+C", lines)
        probes = [line for line in lines if line != "Ctrl+C"]
        self.assertEqual(set(probes), {"Request timed-out."})
        # The probe that was waiting when SIGTERM came still printed its line...
        self.assertEqual(lines[lines.index("Ctrl+C"):], ["Ctrl+C", "Request timed-out."])
        # ...and every probe, that one too, has its row.
        rows = self.rows()
        self.assertEqual(len(rows), len(probes))
        self.assertEqual({row[1:] for row in rows}, {("127.0.0.1", "-1", "Request timed-out.")})
        note("systemctl stop during a wait took %.2f s (TimeoutStopSec=10s)" % took)

    def test_two_instances_write_whole_rows_to_one_file_and_the_report_reads_the_folder(self):
        units = ["vesperix@127.0.0.1.service", "vesperix@127.0.0.2.service"]
        since = self.start(*units)
        count = lambda target: sum(1 for row in self.rows() if row[1] == target)
        self.wait_for(lambda: count("127.0.0.1") >= 5 and count("127.0.0.2") >= 5, 20, "5 rows of each")
        self.container.run(["systemctl", "stop"] + units)
        logs = os.listdir(self.container.path(PRIVATE_LOGS))
        self.assertLessEqual(len(logs), 2, logs)  # one, or two across midnight UTC
        rows = self.rows()
        for unit, target in zip(units, ("127.0.0.1", "127.0.0.2")):
            self.assert_exited_0(unit)
            probes = [line for line in self.messages(unit, since) if line != "Ctrl+C"]
            self.assertEqual(count(target), len(probes), target)
        report = json.loads(self.container.sh("vesperix-report --format json %s/*.tsv" % LOGS).stdout)
        self.assertEqual([entry["skipped_rows"] for entry in report["files"]], [0] * len(logs))
        self.assertEqual({entry["target"]: entry["probes"] for entry in report["targets"]},
                         {"127.0.0.1": count("127.0.0.1"), "127.0.0.2": count("127.0.0.2")})
        note("vesperix-report %s/*.tsv:\n%s" % (LOGS, self.container.sh("vesperix-report %s/*.tsv" % LOGS).stdout))
        self.assertEqual(len(rows), count("127.0.0.1") + count("127.0.0.2"))

    def test_a_killed_instance_is_restarted_and_one_that_cannot_probe_is_not(self):
        c = self.container
        self.start(UNIT)
        first = self.main_pid(UNIT)
        c.sh("kill -KILL %d" % first)
        restarted = lambda: c.unit(UNIT, "NRestarts", "ActiveState", "MainPID")
        self.wait_for(lambda: restarted()["NRestarts"] == "1" and restarted()["ActiveState"] == "active"
                      and restarted()["MainPID"] not in ("0", str(first)), 20, "a restart")
        c.run(["systemctl", "stop", UNIT])
        # Without its ambient capability, where datagram sockets are refused,
        # the monitor can't probe: status 2, and starting again won't help.
        dropin = c.path("/run/systemd/system/%s.d" % UNIT)
        os.makedirs(dropin)
        with open(os.path.join(dropin, "no-capability.conf"), "w") as conf:
            conf.write("[Service]\nAmbientCapabilities=\n")
        c.run(["systemctl", "daemon-reload"])
        since = int(time.time()) - 1
        c.run(["systemctl", "start", UNIT])
        self.wait_for(lambda: c.unit(UNIT, "ActiveState")["ActiveState"] == "failed", 10, "the failure")
        self.assertEqual(c.unit(UNIT, "Result", "ExecMainStatus", "NRestarts", "SubState"),
                         {"Result": "exit-code", "ExecMainStatus": "2", "NRestarts": "0", "SubState": "failed"})
        out = c.run(["journalctl", "-u", UNIT, "--since", "@%d" % since, "-o", "cat"]).stdout
        self.assertIn("ICMP sockets are not permitted", out)

    def test_the_unit_verifies_and_its_exposure_is_at_most_2(self):
        # The container has no man, so the manual pages the unit names are not looked up.
        verify = self.container.run(["systemd-analyze", "verify", "--man=no", UNIT], check=False)
        self.assertEqual((verify.returncode, verify.stdout, verify.stderr), (0, "", ""))
        out = self.container.run(["systemd-analyze", "security", "--no-pager", UNIT]).stdout
        note("systemd-analyze security %s\n%s" % (UNIT, out))
        exposure = re.search(r"Overall exposure level for %s: (\d+\.\d+)" % re.escape(UNIT), out)
        self.assertIsNotNone(exposure, out)
        self.assertLessEqual(float(exposure.group(1)), 2.0)

    def test_an_upgrade_restarts_the_running_instances(self):
        c = self.container
        since = self.start(UNIT)
        self.wait_for(lambda: len(self.rows()) >= 1, 10, "a row")
        before = self.main_pid(UNIT)
        # The same version again goes through the upgrade path of the scripts.
        c.sh("cd /root && apt-get install -y --reinstall ./vesperix_*.deb", timeout=120)
        self.assertNotEqual(self.main_pid(UNIT), before)
        self.assertIn("Ctrl+C", self.messages(UNIT, since, pid=before))

    def test_removal_leaves_only_the_logs_and_purge_removes_them(self):
        c = self.container
        self.addCleanup(self.install)
        since = self.start(UNIT)
        self.wait_for(lambda: len(self.rows()) >= 2, 10, "2 rows")
        pid = self.main_pid(UNIT)
        c.run(["apt-get", "remove", "-y", "vesperix"], timeout=120)
        # The running monitor stopped the usual way.
        self.assertEqual(c.run(["systemctl", "is-active", UNIT], check=False).stdout.strip(), "inactive")
        self.assertIn("Ctrl+C", self.messages(UNIT, since, pid=pid))
        self.assertEqual(c.run(["dpkg-query", "-W", "-f=${db:Status-Abbrev}", "vesperix"]).stdout.strip(), "rc")
        now = self.snapshot()
        self.assertEqual(self.fresh - now, set())
        logs = {PRIVATE_LOGS, LOGS} | {
            PRIVATE_LOGS + "/" + name for name in os.listdir(c.path(PRIVATE_LOGS))}
        self.assertEqual(now - self.fresh, logs)
        self.assertTrue(any(path.endswith(".tsv") for path in logs))
        c.run(["apt-get", "purge", "-y", "vesperix"], timeout=120)
        self.assertEqual(self.snapshot() ^ self.fresh, set())
        self.assertNotEqual(c.run(["dpkg-query", "-W", "vesperix"], check=False).returncode, 0)


if __name__ == "__main__":
    unittest.main()
