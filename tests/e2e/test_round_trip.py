"""Round-trip times against what the scripted host itself knows: the delay
it applied, from the kernel's stamp of a request's arrival to the send of
its reply."""

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
ROUNDS = 2


def realtime(pid):
    """Real-time scheduling for the monitor, so that a busy machine does not
    delay its packets: its times are held to a millisecond."""
    os.sched_setscheduler(pid, os.SCHED_FIFO, os.sched_param(10))


def milliseconds(test, line):
    match = re.fullmatch(r"(\d+)ms", line)
    test.assertIsNotNone(match, line)
    return int(match.group(1))


class RoundTrip(netlab.NamespaceTest):
    def test_times_are_the_hosts_own_delays_within_a_millisecond(self):
        # A reported time is whole milliseconds, rounded down, of a round trip
        # that holds the host's delay and two short veth hops. So it is never
        # below the delay's floor, and above the delay by at most 1 ms. Each
        # delay comes twice: a burst of load on the machine only ever adds
        # time, so the lesser of the two is held to the upper bound.
        steps = ["reply after=%s" % delay for delay in DELAYS] * ROUNDS
        script = {"flows": [steps], "requests": len(steps), "seconds": 40}
        runs = {}
        for kind in netlab.SOCKET_KINDS:
            runs[kind] = echohost.ScriptedRun(self, kind, script)
            realtime(runs[kind].monitor.process.pid)
        for kind in netlab.SOCKET_KINDS:
            with self.subTest(socket=kind):
                lines = runs[kind].lines(len(steps), 40)
                applied = runs[kind].host.applied_delays(0, len(steps))
                self.assertEqual(sorted(applied), list(range(len(steps))))
                for index, delay in enumerate(DELAYS):
                    places = range(index, len(steps), len(DELAYS))
                    ours = [milliseconds(self, lines[place]) for place in places]
                    held = [applied[place] * 1000 for place in places]
                    context = (delay, ours, held)
                    for time_ms, held_ms in zip(ours, held):
                        # The host may only ever be late, never early.
                        self.assertGreaterEqual(held_ms, delay, context)
                        self.assertGreaterEqual(time_ms, math.floor(held_ms), context)
                    self.assertLessEqual(min(t - h for t, h in zip(ours, held)), 1, context)

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
