"""The daily log from the outside: one file per UTC day in the working folder,
one whole row per probe that never goes on from a fragment, rows that follow
the wall clock wherever it steps, and probing that goes on, said once, when
the file can't be written."""

import datetime
import errno
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import echohost
import netlab

LIBFAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
# Fourteen hours east of UTC (POSIX zone offsets count westwards), so local
# dates and times differ from UTC ones in every run.
FAR_ZONE = "XYZ-14"
FAR_ZONE_OFFSET = datetime.timedelta(hours=14)
# The longest argument Linux passes with 4 KiB pages, less its zero byte.
LONGEST_TARGET = 32 * 4096 - 1
ROW = re.compile(rb"(\d\d:\d\d:\d\d)\t([^\t\r\n]*)\t(-1|\d+)\t([^\t\r\n]*)")
RTT_LINE = re.compile(r"^\d+ms$")


def utc_day_file(moment=None):
    moment = moment or datetime.datetime.now(datetime.timezone.utc)
    return moment.strftime("%Y-%m-%d.tsv")


def folder(test):
    path = tempfile.mkdtemp(prefix="vesperix-log-")
    test.addCleanup(shutil.rmtree, path, True)
    os.chmod(path, 0o777)
    return path


def under(test, ns, wrapper, args, **kwargs):
    """A monitor started through `wrapper`, a command that ends by exec'ing the
    program with `args`, so the process and its signals stay the program's."""
    return netlab.Monitor(test, ns, list(wrapper[1:]) + [netlab.VESPERIX] + list(args),
                          program=wrapper[0], **kwargs)


def log_bytes(path):
    """The content of every regular .tsv file in `path`, in name order."""
    data = b""
    for name in sorted(os.listdir(path)):
        file = os.path.join(path, name)
        if name.endswith(".tsv") and os.path.isfile(file):
            with open(file, "rb") as log:
                data += log.read()
    return data


def rows_of(test, data):
    """The rows of log bytes `data` as (time, target, round trip, detail);
    fails unless every byte belongs to a whole row of four fields ending in CR LF."""
    test.assertTrue(data == b"" or data.endswith(b"\r\n"), data[-80:])
    rows = []
    for line in data.split(b"\r\n")[:-1]:
        match = ROW.fullmatch(line)
        test.assertIsNotNone(match, line[:80])
        rows.append(match.groups())
        # An answer leaves the detail empty; a failure always names one.
        test.assertEqual(match.group(3) == b"-1", match.group(4) != b"")
    return rows


def log_writes(trace):
    """(bytes asked, bytes written) of each write to a .tsv file in strace
    output `trace`."""
    sizes, log = [], None
    with open(trace) as lines:
        for line in lines:
            opened = re.match(r'^openat\(AT_FDCWD, "[^"]*\.tsv", .*\) = (\d+)$', line)
            if opened:
                log = opened.group(1)
            written = re.match(r"^write\((\d+), .*, (\d+)\) = (\d+)$", line)
            if written and written.group(1) == log:
                sizes.append((int(written.group(2)), int(written.group(3))))
    return sizes


def require_tool(test, path, missing):
    """Skips `test` unless `path` names an existing file, except under CI."""
    if not (path and os.path.exists(path)):
        netlab.skip_or_fail(test, missing)


def probe_lines(test, out):
    lines = out.splitlines()
    test.assertEqual(lines.count("Ctrl+C"), 1, out)
    return [line for line in lines if line != "Ctrl+C"]


class Files(netlab.NamespaceTest):
    def test_rows_go_to_the_file_of_the_utc_date_after_what_is_there(self):
        earlier = b"23:59:59\t10.0.0.1\t-1\tRequest timed-out.\r\nleft by another program\r\n"
        for existing in (None, earlier):
            with self.subTest(existing=existing):
                ns = netlab.Namespace(self)
                cwd = folder(self)
                start = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
                today = utc_day_file(start)
                if existing is not None:
                    with open(os.path.join(cwd, today), "wb") as log:
                        log.write(existing)
                monitor = under(self, ns, ["env", "TZ=" + FAR_ZONE], ["127.0.0.1"],
                                terminal=True, cwd=cwd)
                self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= 2, 10))
                monitor.signal(signal.SIGINT)
                status, out, err = monitor.wait()
                self.assertEqual((status, err), (0, ""))
                probes = probe_lines(self, out)
                end = datetime.datetime.now(datetime.timezone.utc)
                self.assertEqual(os.listdir(cwd), [today])
                with open(os.path.join(cwd, today), "rb") as log:
                    data = log.read()
                # No header: the file is what was there, then rows only.
                self.assertTrue(data.startswith(existing or b""))
                rows = rows_of(self, data[len(existing or b""):])
                self.assertEqual(len(rows), len(probes))
                for (at, target, rtt, detail), line in zip(rows, probes):
                    self.assertEqual((target, rtt + b"ms", detail), (b"127.0.0.1", line.encode(), b""))
                    moment = datetime.datetime.strptime(start.strftime("%Y-%m-%d ") + at.decode(),
                                                        "%Y-%m-%d %H:%M:%S")
                    moment = moment.replace(tzinfo=datetime.timezone.utc)
                    self.assertTrue(start <= moment <= end, (start, at, end))

    def test_a_timed_out_probe_logs_minus_one_and_the_timeout_text(self):
        client = netlab.Namespace(self)
        netlab.silent_host(self, client)
        monitor = netlab.Monitor(self, client, ["10.77.0.2"], terminal=True)
        self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= 1, 10))
        monitor.signal(signal.SIGINT)
        status, out, err = monitor.wait()
        self.assertEqual((status, err), (0, ""))
        rows = rows_of(self, log_bytes(monitor.cwd))
        self.assertEqual(len(rows), len(probe_lines(self, out)))
        for _, target, rtt, detail in rows:
            self.assertEqual((target, rtt, detail), (b"10.77.0.2", b"-1", b"Request timed-out."))


class Midnight(netlab.NamespaceTest):
    def setUp(self):
        super().setUp()
        require_tool(self, LIBFAKETIME, "needs libfaketime (Debian's faketime)")

    def test_the_first_row_after_utc_midnight_starts_the_new_days_file(self):
        ns = netlab.Namespace(self)
        start = datetime.datetime(2026, 12, 31, 23, 59, 57)
        # libfaketime reads the start in the local zone.
        local_start = (start + FAR_ZONE_OFFSET).strftime("%Y-%m-%d %H:%M:%S")
        # The preload goes on the program alone, through env's exec. A
        # sanitizer build would refuse a preload ahead of its runtime.
        clock = ["env", "TZ=" + FAR_ZONE, "LD_PRELOAD=" + LIBFAKETIME,
                 "FAKETIME=@" + local_start, "FAKETIME_DONT_FAKE_MONOTONIC=1",
                 "ASAN_OPTIONS=verify_asan_link_order=0"]
        monitor = under(self, ns, clock, ["127.0.0.1"], terminal=True)
        self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= 5, 12), monitor.lines)
        monitor.signal(signal.SIGINT)
        status, out, err = monitor.wait()
        self.assertEqual((status, err), (0, ""))
        probes = probe_lines(self, out)
        self.assertEqual(sorted(os.listdir(monitor.cwd)), ["2026-12-31.tsv", "2027-01-01.tsv"])
        with open(os.path.join(monitor.cwd, "2026-12-31.tsv"), "rb") as log:
            before = [row[0] for row in rows_of(self, log.read())]
        with open(os.path.join(monitor.cwd, "2027-01-01.tsv"), "rb") as log:
            after = [row[0] for row in rows_of(self, log.read())]
        self.assertGreaterEqual(len(before), 2, before)
        for at in before:
            self.assertRegex(at, rb"^23:59:5\d$")
        self.assertRegex(after[0], rb"^00:00:0\d$")
        self.assertEqual(len(before) + len(after), len(probes))
        # The pause still lasts a second under the preload: no two cycles share one.
        self.assertEqual(before, sorted(set(before)))
        self.assertEqual(after, sorted(set(after)))


def in_mount_namespace(pid, args):
    """`args` run in the mount namespace of process `pid`, in its root and its
    working folder: the tests may run in a chroot, whose root a mount
    namespace does not keep, and a working folder kept from the namespace
    left behind is unreachable in the new one."""
    return ["nsenter", "--target", str(pid), "--mount", "--root", "--wd"] + list(args)


def mount_namespace(test):
    """A process in a mount namespace of its own, for the test's mounts: they
    go with it. Returns its pid."""
    holder = subprocess.Popen(["unshare", "--mount", "--propagation", "private", "sleep", "300"],
                              stdin=subprocess.DEVNULL)
    test.addCleanup(holder.wait, 10)
    test.addCleanup(holder.kill)
    deadline = time.monotonic() + 10
    while os.readlink("/proc/%d/ns/mnt" % holder.pid) == os.readlink("/proc/self/ns/mnt"):
        test.assertLess(time.monotonic(), deadline, "unshare made no mount namespace")
        time.sleep(0.01)
    return holder.pid


def failure_row(target):
    return b"00:00:00\t%s\t-1\tRequest timed-out.\r\n" % target


def whole_rows(size):
    """Whole rows of another target, `size` bytes in all."""
    rows = b""
    while size - len(rows) >= 2 * len(failure_row(b"x")):
        rows += failure_row(b"x")
    return rows + failure_row(b"y" * (size - len(rows) - len(failure_row(b""))))


class Unwritable(netlab.NamespaceTest):
    """The log can't be written; then it can again, from the next cycle on."""

    def test_probing_goes_on_and_rows_resume_once_the_file_can_be_written(self):
        ns = netlab.Namespace(self)
        today = utc_day_file()
        # Each case runs in a mount namespace of its own, so its mounts go
        # when the monitor ends, however the test ends. The reasons are the
        # system's own texts.
        cases = {
            "read-only mount": ("mkdir logs; mount --bind logs logs; "
                                "mount -o remount,bind,ro logs; cd logs",
                                "Read-only file system"),
            "full file system": ("mkdir logs; mount -t tmpfs -o size=64k tmpfs logs; cd logs; "
                                 "dd if=/dev/zero of=filler bs=4k 2>/dev/null || true",
                                 "No space left on device"),
            "folder in the file's place": ("mkdir logs; mkdir logs/" + today + "; cd logs",
                                           "Is a directory"),
            # Rows that no reader takes would fill the pipe and then hold up
            # the monitor for good.
            "FIFO without a reader in the file's place": (
                "mkdir logs; mkfifo logs/" + today + "; cd logs", "No such device or address"),
        }
        monitors = {}
        for name, (setup, _) in cases.items():
            wrapper = ["unshare", "--mount", "sh", "-ec", setup + '; exec "$@"', "sh"]
            monitors[name] = under(self, ns, wrapper, ["127.0.0.1"], terminal=True)

        def logs(monitor):
            return "/proc/%d/cwd" % monitor.process.pid

        for name, monitor in monitors.items():
            with self.subTest(case=name, phase="spoilt"):
                self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= 2, 10),
                                monitor.lines)
                self.assertEqual(log_bytes(logs(monitor)), b"")
        mend = {
            "read-only mount": lambda m: netlab.run(in_mount_namespace(
                m.process.pid, ["mount", "-o", "remount,bind,rw", os.path.join(m.cwd, "logs")])),
            "full file system": lambda m: os.remove(os.path.join(logs(m), "filler")),
            "folder in the file's place": lambda m: os.rmdir(os.path.join(logs(m), today)),
            "FIFO without a reader in the file's place":
                lambda m: os.remove(os.path.join(logs(m), today)),
        }
        for name, monitor in monitors.items():
            mend[name](monitor)
        for name, monitor in monitors.items():
            with self.subTest(case=name, phase="mended"):
                count = len(monitor.lines)
                self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= count + 2, 10))
                time.sleep(0.3)  # the row follows its console line
                rows = rows_of(self, log_bytes(logs(monitor)))
                self.assertGreaterEqual(len(rows), 2)
                for _, target, rtt, detail in rows:
                    self.assertEqual(target, b"127.0.0.1")
                monitor.signal(signal.SIGINT)
                status, out, err = monitor.wait()
                self.assertEqual(status, 0)
                for line in probe_lines(self, out):
                    self.assertRegex(line, RTT_LINE)
                # One line when rows stopped reaching the file, one when they
                # reached it again: not one a cycle.
                self.assertEqual(err.splitlines(), [
                    "vesperix: cannot write the daily log ./%s: %s" % (today, cases[name][1]),
                    "vesperix: the daily log ./%s is written again" % today])


class FullDisk(netlab.NamespaceTest):
    def test_a_write_cut_short_is_one_malformed_line_and_no_row_goes_on_from_it(self):
        ns = netlab.Namespace(self)
        holder = mount_namespace(self)
        logs = folder(self)
        # 64 KiB: sixteen pages, of which the day's log takes the first. It
        # ends 10 bytes short of its page and the rest is filled, so the next
        # row is cut short after 10 bytes.
        netlab.run(in_mount_namespace(holder, ["mount", "-t", "tmpfs", "-o", "size=64k,mode=0777",
                                               "tmpfs", logs]))
        view = "/proc/%d/root%s" % (holder, logs)
        day = utc_day_file()
        before = whole_rows(4096 - 10)
        with open(os.path.join(view, day), "wb") as log:
            log.write(before)
        filler = os.open(os.path.join(view, "filler"), os.O_WRONLY | os.O_CREAT, 0o666)
        try:
            with self.assertRaises(OSError) as full:
                for _ in range(64):
                    os.write(filler, bytes(4096))
        finally:
            os.close(filler)
        self.assertEqual(full.exception.errno, errno.ENOSPC)
        # Two writers of one file: text that is no address fails at once.
        targets = [b"writer-one", b"writer-two"]
        # (nsenter's --wd=PATH would name a folder of the mount namespace it leaves.)
        wrapper = in_mount_namespace(holder, ["sh", "-c", 'cd "$0" && exec "$@"', logs])
        monitors = [under(self, ns, wrapper, [t.decode()], terminal=True) for t in targets]
        for monitor in monitors:
            self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= 3, 10), monitor.lines)
        with open(os.path.join(view, day), "rb") as log:
            fragment = log.read()[len(before):]
        self.assertEqual(len(fragment), 10)
        # Every cycle before the last line seen now met the full disk.
        failed = [len(monitor.lines) - 1 for monitor in monitors]
        os.remove(os.path.join(view, "filler"))
        for monitor in monitors:
            count = len(monitor.lines)
            self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= count + 3, 10))
        time.sleep(0.3)  # the row follows its console line
        outputs = []
        for monitor in monitors:
            monitor.signal(signal.SIGINT)
            outputs.append(monitor.wait())
        with open(os.path.join(view, day), "rb") as log:
            data = log.read()
        # What was there stays as it was; the fragment is one line of its
        # own, the first 10 bytes of a row; every line after it is a whole row.
        self.assertTrue(data.startswith(before + fragment + b"\r\n"), data[len(before):][:200])
        self.assertRegex(fragment, rb"^\d\d:\d\d:\d\d\tw$")
        rows = rows_of(self, data[len(before + fragment) + 2:])
        for target, lost, (status, out, err) in zip(targets, failed, outputs):
            with self.subTest(target=target):
                self.assertEqual(status, 0)
                probes = probe_lines(self, out)
                self.assertEqual(set(probes), {"Destination is invalid."})
                own = [row for row in rows if row[1] == target]
                self.assertGreaterEqual(len(own), 3)
                self.assertLessEqual(len(own), len(probes) - lost)
                times = [row[0] for row in own]
                self.assertEqual(times, sorted(times))
                self.assertEqual(err.splitlines(), [
                    "vesperix: cannot write the daily log ./%s: No space left on device" % day,
                    "vesperix: the daily log ./%s is written again" % day])
        self.assertEqual(len(rows), sum(1 for row in rows if row[1] in targets))


class ClockSteps(netlab.NamespaceTest):
    def setUp(self):
        super().setUp()
        require_tool(self, LIBFAKETIME, "needs libfaketime (Debian's faketime)")

    def test_rows_follow_the_wall_clock_and_round_trips_and_periods_do_not(self):
        # The monitors' wall clock is what a file says, read anew at every
        # reading; their monotonic clock is the system's.
        clock = os.path.join(folder(self), "clock")
        start = datetime.datetime(2026, 12, 31, 0, 0, 30)
        with open(clock, "w") as setting:
            setting.write(start.strftime("@%Y-%m-%d %H:%M:%S"))
        preload = ["env", "TZ=UTC", "LD_PRELOAD=" + LIBFAKETIME, "FAKETIME_TIMESTAMP_FILE=" + clock,
                   "FAKETIME_NO_CACHE=1", "FAKETIME_DONT_FAKE_MONOTONIC=1",
                   "ASAN_OPTIONS=verify_asan_link_order=0"]
        script = {"flows": [{"steps": ["reply after=200.6"], "repeat": True}], "requests": 30,
                  "seconds": 60}
        runs = []
        for kind in netlab.SOCKET_KINDS:
            client = netlab.client_namespace(self, kind)
            _, host = echohost.scripted_host(self, client, script)
            runs.append((kind, host, under(self, client, preload, [echohost.HOST_ADDRESS],
                                           terminal=True)))
        # Each phase begins right after a console line: the cycle after it
        # reads the new time. Back an hour, then forward a day.
        phases = [(start, time.monotonic())]
        for step in (datetime.timedelta(hours=-1), datetime.timedelta(days=1)):
            for _, _, monitor in runs:
                count = len(monitor.lines)
                self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= count + 3, 10),
                                monitor.lines)
            now = phases[-1][0] + datetime.timedelta(seconds=time.monotonic() - phases[-1][1])
            moment = (now + step).replace(microsecond=0)
            with open(clock + ".new", "w") as setting:
                setting.write(moment.strftime("@%Y-%m-%d %H:%M:%S"))
            os.replace(clock + ".new", clock)
            phases.append((moment, time.monotonic()))
        for _, _, monitor in runs:
            count = len(monitor.lines)
            self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= count + 3, 10))
        ended = time.monotonic()
        for kind, host, monitor in runs:
            with self.subTest(socket=kind):
                monitor.signal(signal.SIGINT)
                status, out, err = monitor.wait()
                self.assertEqual((status, err), (0, ""))
                probes = probe_lines(self, out)
                # Round trips come from the monotonic clock alone.
                for line in probes:
                    self.assertRegex(line, RTT_LINE)
                    self.assertTrue(200 <= int(line[:-2]) < 260, probes)
                # So does the pause: every period is the delay and a second.
                arrived = [request["arrived"] for request in host.flow(0)]
                periods = [later - earlier for earlier, later in zip(arrived, arrived[1:])]
                self.assertTrue(all(1.15 < period < 1.45 for period in periods), periods)
                # Each row went to the file of the date its cycle read, with
                # that time: three phases, in the order they came.
                self.assertEqual(sorted(os.listdir(monitor.cwd)), ["2026-12-30.tsv",
                                                                   "2026-12-31.tsv"])
                seen = []
                for name in ("2026-12-31.tsv", "2026-12-30.tsv"):
                    with open(os.path.join(monitor.cwd, name), "rb") as log:
                        for at, _, _, _ in rows_of(self, log.read()):
                            seen.append(datetime.datetime.strptime(
                                name[:10] + " " + at.decode(), "%Y-%m-%d %H:%M:%S"))
                self.assertEqual(len(seen), len(probes))
                # A phase's times run from its setting on (libfaketime may
                # start it a second early, and counts from the program's start
                # at first); the phases lie an hour and a day apart.
                bounds = [(moment - datetime.timedelta(seconds=2),
                           moment + datetime.timedelta(seconds=ended - since + 5))
                          for moment, since in phases]
                phase_of = []
                for moment in seen:
                    found = [n for n, (low, high) in enumerate(bounds) if low <= moment <= high]
                    self.assertEqual(len(found), 1, (moment, bounds))
                    phase_of.append(found[0])
                # The 31st's file holds the first phase, then the third; the
                # 30th's the second.
                self.assertEqual(sorted(set(phase_of)), [0, 1, 2], phase_of)
                in_31st = [p for p in phase_of if p != 1]
                self.assertEqual(in_31st, sorted(in_31st))
                # Within a phase the times follow the clock: a cycle takes
                # 1.2 s, so each row is 1 or 2 seconds after the one before.
                for phase in range(3):
                    times = [m for m, p in zip(seen, phase_of) if p == phase]
                    self.assertGreaterEqual(len(times), 2, phase_of)
                    steps = [(later - earlier).total_seconds()
                             for earlier, later in zip(times, times[1:])]
                    self.assertTrue(all(step in (1, 2) for step in steps), (phase, times))


class ManyWriters(netlab.NamespaceTest):
    def setUp(self):
        super().setUp()
        require_tool(self, shutil.which("strace"), "needs strace")

    def test_eight_monitors_appending_to_one_file_never_split_a_row(self):
        ns = netlab.Namespace(self)
        cwd = folder(self)
        # Rows as long as the kernel allows, each monitor's its own.
        targets = [chr(ord("a") + i) * (LONGEST_TARGET - 1000 * i) for i in range(8)]
        # All wait for a line from one FIFO and start together, so their
        # writes meet; a late one finds its line waiting.
        gate = os.path.join(cwd, "gate")
        os.mkfifo(gate)
        held = os.open(gate, os.O_RDWR)
        self.addCleanup(os.close, held)
        start = ["sh", "-c", 'read go < "$0"; exec "$@"', gate]
        # Meeting writes show a split row only by chance; the trace of the
        # first monitor shows every row's write calls for certain. (The leak
        # check of a sanitizer build can't stop threads that strace holds.)
        trace = os.path.join(folder(self), "trace")
        traced = start + ["env", "ASAN_OPTIONS=detect_leaks=0",
                          "strace", "-qq", "-o", trace, "-e", "trace=openat,write"]
        monitors = [under(self, ns, traced if i == 0 else start, [target], cwd=cwd)
                    for i, target in enumerate(targets)]
        time.sleep(1)
        os.write(held, b"go\n" * len(monitors))
        time.sleep(5.5)
        tracer = monitors[0].process.pid
        with open("/proc/%d/task/%d/children" % (tracer, tracer)) as children:
            os.kill(int(children.read().split()[0]), signal.SIGINT)
        for monitor in monitors[1:]:
            monitor.signal(signal.SIGINT)
        probes = {}
        for target, monitor in zip(targets, monitors):
            status, out, err = monitor.wait()
            self.assertEqual((status, err), (0, ""))
            probes[target.encode()] = probe_lines(self, out)
            self.assertGreaterEqual(len(probes[target.encode()]), 3)
        rows = rows_of(self, log_bytes(cwd))
        for _, target, rtt, detail in rows:
            self.assertIn(target, probes)
            self.assertEqual((rtt, detail), (b"-1", b"Destination is invalid."))
        for target, lines in probes.items():
            self.assertEqual(sum(1 for row in rows if row[1] == target), len(lines))
        row_size = len(b"00:00:00\t%s\t-1\tDestination is invalid.\r\n" % targets[0].encode())
        self.assertEqual(log_writes(trace),
                         [(row_size, row_size)] * len(probes[targets[0].encode()]))


class Targets(netlab.NamespaceTest):
    def test_a_target_with_a_control_character_is_refused_with_one_line(self):
        ns = netlab.Namespace(self)
        for text in ("10.0.0.1\tx", "127.0.0.1\r\n00:00:00\tforged\t1\t", "\x1b[2J", "10.1\x7f"):
            with self.subTest(text=text):
                monitor = netlab.Monitor(self, ns, [text])
                status, out, err = monitor.wait()
                self.assertEqual((status, out), (1, ""))
                self.assertEqual(len(err.splitlines()), 1, err)
                self.assertIn("control character", err)
                self.assertEqual(os.listdir(monitor.cwd), [])

    def test_odd_texts_give_well_formed_failure_rows(self):
        ns = netlab.Namespace(self)
        texts = ["", "host.example", "%s%n%x%%", "10.0", "ünïcødé", "-x", "   "]
        monitors = [netlab.Monitor(self, ns, [text]) for text in texts]
        time.sleep(1.5)
        for monitor in monitors:
            monitor.signal(signal.SIGINT)
        for text, monitor in zip(texts, monitors):
            with self.subTest(text=text):
                status, out, err = monitor.wait()
                self.assertEqual((status, err), (0, ""))
                rows = rows_of(self, log_bytes(monitor.cwd))
                self.assertEqual(len(rows), len(probe_lines(self, out)))
                self.assertGreaterEqual(len(rows), 1)
                for _, target, rtt, _ in rows:
                    self.assertEqual((target, rtt), (text.encode(), b"-1"))


if __name__ == "__main__":
    unittest.main()
