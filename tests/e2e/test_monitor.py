"""The monitor from the outside: its command line, probes through the kernel,
stop signals and the privileges it needs."""

import re
import signal
import time
import unittest

import netlab

RTT_LINE = re.compile(r"^\d+ms$")
USAGE = "Usage: vesperix <IPv4 address>\n"


class CommandLine(netlab.NamespaceTest):
    def test_no_argument_prints_the_usage_line_and_exits_1(self):
        ns = netlab.Namespace(self)
        status, out, err = netlab.Monitor(self, ns, []).wait()
        self.assertEqual((status, out, err), (1, USAGE, ""))

    def test_help_and_version_exit_0(self):
        ns = netlab.Namespace(self)
        for flag in ("-h", "--help"):
            self.assertEqual(netlab.Monitor(self, ns, [flag]).wait(), (0, USAGE, ""))
        status, out, _ = netlab.Monitor(self, ns, ["--version"]).wait()
        self.assertEqual(status, 0)
        self.assertRegex(out, r"^vesperix \d+\.\d+\.\d+\n$")


class Loopback(netlab.NamespaceTest):
    def probe_then_interrupt(self, ns, args=("127.0.0.1",), **kwargs):
        monitor = netlab.Monitor(self, ns, list(args), terminal=True, **kwargs)
        self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= 3, 10), monitor.lines)
        monitor.signal(signal.SIGINT)
        status, out, err = monitor.wait()
        lines = out.splitlines()
        self.assertEqual(status, 0, err)
        self.assertEqual(err, "")
        self.assertIn("Ctrl+C", lines)
        probes = [line for line in lines if line != "Ctrl+C"]
        self.assertGreaterEqual(len(probes), 3)
        for line in probes:
            self.assertRegex(line, RTT_LINE)
        self.assertEqual(lines.count("Ctrl+C"), 1)
        return monitor

    def check_socket_kind(self, ns, used, unused):
        """A probe in `ns` holds one socket of /proc/net/`used` and none of `unused`."""
        monitor = netlab.Monitor(self, ns, ["127.0.0.1"], terminal=True)
        self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= 1, 10))
        self.assertEqual(len(ns.sockets(used)), 1)
        self.assertEqual(ns.sockets(unused), [])
        monitor.kill()

    def test_raw_socket_as_root(self):
        ns = netlab.Namespace(self)
        self.check_socket_kind(ns, used="raw", unused="icmp")
        self.probe_then_interrupt(ns)

    def test_datagram_socket_where_ping_group_range_allows(self):
        ns = netlab.Namespace(self)
        ns.allow_datagram_icmp()
        self.check_socket_kind(ns, used="icmp", unused="raw")
        self.probe_then_interrupt(ns)

    def test_answered_probes_follow_each_other_about_once_a_second(self):
        ns = netlab.Namespace(self)
        monitor = self.probe_then_interrupt(ns)
        times = [at for at, text in monitor.lines if RTT_LINE.match(text)]
        gaps = [b - a for a, b in zip(times, times[1:])]
        for gap in gaps:
            self.assertGreater(gap, 0.95)
            self.assertLess(gap, 1.5)

    def test_only_the_first_argument_counts(self):
        ns = netlab.Namespace(self)
        self.probe_then_interrupt(ns, args=("127.0.0.1", "10.99.99.99", "--help"))

    def test_unprivileged_user_where_ping_group_range_allows(self):
        ns = netlab.Namespace(self)
        ns.allow_datagram_icmp()
        self.probe_then_interrupt(ns, user="nobody", program=netlab.program_copy(self))

    def test_unprivileged_user_without_permission_is_told_why(self):
        ns = netlab.Namespace(self)
        monitor = netlab.Monitor(self, ns, ["127.0.0.1"], user="nobody",
                                 program=netlab.program_copy(self))
        status, out, err = monitor.wait()
        self.assertEqual(status, 2)
        self.assertEqual(out, "")
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertIn("net.ipv4.ping_group_range", err)
        self.assertIn("CAP_NET_RAW", err)


class SilentHost(netlab.NamespaceTest):
    """A host one veth hop away whose kernel ignores every echo request."""

    def setUp(self):
        super().setUp()
        self.client = netlab.Namespace(self)
        self.host = netlab.silent_host(self, self.client)

    def test_timeouts_come_about_every_two_seconds(self):
        monitor = netlab.Monitor(self, self.client, ["10.77.0.2"], terminal=True)
        self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= 3, 12), monitor.lines)
        times = [at for at, _ in monitor.lines]
        self.assertEqual([text for _, text in monitor.lines], ["Request timed-out."] * len(times))
        self.assertGreater(times[0], 0.95)
        self.assertLess(times[0], 1.5)
        for a, b in zip(times, times[1:]):
            self.assertGreater(b - a, 1.95)
            self.assertLess(b - a, 2.5)

    def test_a_stop_during_the_wait_lets_the_cycle_finish(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
            with self.subTest(signal=sig.name):
                # Output to a pipe: it reaches the test only when it is flushed at exit.
                monitor = netlab.Monitor(self, self.client, ["10.77.0.2"])
                # 2.3 s in: the second request is waiting for its reply.
                time.sleep(max(0.0, 2.3 - (time.monotonic() - monitor.started)))
                monitor.signal(sig)
                status, out, err = monitor.wait()
                self.assertEqual((status, err), (0, ""))
                self.assertEqual(out, "Request timed-out.\nCtrl+C\nRequest timed-out.\n")
                # The rest of the wait (0.7 s) and the full pause (1 s) come first.
                self.assertGreater(monitor.ended - monitor.signalled, 1.5)
                self.assertLess(monitor.ended - monitor.signalled, 2.5)


if __name__ == "__main__":
    unittest.main()
