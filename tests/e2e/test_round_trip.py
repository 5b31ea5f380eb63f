"""Round-trip times against iputils ping, measured in the same run against
the same scripted host."""

import math
import os
import re
import signal
import time
import unittest

import echohost
import netlab

# Milliseconds the host waits before each answer, from under one to nearly
# the timeout; the fractions keep the times clear of whole milliseconds.
DELAYS = [0.4, 1.6, 7.6, 50.6, 300.6, 900.6]


def realtime(pid):
    """Real-time scheduling for a prober, so that a busy machine delays
    neither tool's packets: the two are compared request by request."""
    os.sched_setscheduler(pid, os.SCHED_FIFO, os.sched_param(10))


def milliseconds(test, line):
    match = re.fullmatch(r"(\d+)ms", line)
    test.assertIsNotNone(match, line)
    return int(match.group(1))


class RoundTrip(netlab.NamespaceTest):
    def test_times_equal_the_floor_of_pings_within_a_millisecond(self):
        # Every prober gets the same delays, request by request.
        script = {"other": ["reply after=%s" % delay for delay in DELAYS],
                  "requests": 2 * len(DELAYS), "seconds": 30}
        runs, pings = {}, {}
        for kind in netlab.SOCKET_KINDS:
            runs[kind] = echohost.ScriptedRun(self, kind, script)
            pings[kind] = netlab.Ping(self, runs[kind].client, echohost.HOST_ADDRESS,
                                      len(DELAYS))
            realtime(runs[kind].monitor.process.pid)
            realtime(pings[kind].process.pid)
        for kind in netlab.SOCKET_KINDS:
            with self.subTest(socket=kind):
                lines = runs[kind].lines(len(DELAYS), 20)
                times, odd = pings[kind].wait(20)
                self.assertEqual(odd, 0, pings[kind].output)
                self.assertEqual(sorted(times), list(range(1, len(DELAYS) + 1)),
                                 pings[kind].output)
                for delay, line, sequence in zip(DELAYS, lines, sorted(times)):
                    ours, reference = milliseconds(self, line), times[sequence]
                    self.assertGreaterEqual(ours, math.floor(delay), (delay, lines))
                    self.assertLessEqual(abs(ours - math.floor(reference)), 1,
                                         (delay, ours, reference))


    def test_a_reply_read_late_counts_from_its_arrival(self):
        # The monitor is stopped before each reply arrives and continued only
        # later: the second time past its 1000 ms timeout.
        delays, holds = [200, 900], [0.6, 1.3]
        script = {"flows": [["reply after=%d" % delay for delay in delays]],
                  "requests": len(delays), "seconds": 20}
        for kind in netlab.SOCKET_KINDS:
            with self.subTest(socket=kind):
                run = echohost.ScriptedRun(self, kind, script)
                pid = run.monitor.process.pid
                for index, (delay, hold) in enumerate(zip(delays, holds)):
                    self.assertTrue(run.host.wait_for(lambda seen: len(seen) > index, 5))
                    os.kill(pid, signal.SIGSTOP)
                    arrived = run.host.requests[index]["arrived"]
                    self.assertLess(time.monotonic(), arrived + delay / 1000,
                                    "stopped too late to prove anything")
                    time.sleep(max(0.0, arrived + hold - time.monotonic()))
                    os.kill(pid, signal.SIGCONT)
                lines = run.lines(len(delays), 10)
                for delay, line in zip(delays, lines):
                    self.assertGreaterEqual(milliseconds(self, line), delay, lines)
                    self.assertLess(milliseconds(self, line), delay + 50, lines)


if __name__ == "__main__":
    unittest.main()
