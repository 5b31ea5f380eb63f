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
ROUNDS = 2


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
        # Every prober gets the same delays, request by request, twice over:
        # a burst of load on the machine only ever adds time to a packet, so
        # the lesser of each tool's two times is compared.
        steps = ["reply after=%s" % delay for delay in DELAYS] * ROUNDS
        script = {"other": steps, "requests": 2 * len(steps), "seconds": 40}
        runs, pings = {}, {}
        for kind in netlab.SOCKET_KINDS:
            runs[kind] = echohost.ScriptedRun(self, kind, script)
            pings[kind] = netlab.Ping(self, runs[kind].client, echohost.HOST_ADDRESS, len(steps))
            realtime(runs[kind].monitor.process.pid)
            realtime(pings[kind].process.pid)
        for kind in netlab.SOCKET_KINDS:
            with self.subTest(socket=kind):
                lines = runs[kind].lines(len(steps), 40)
                times, odd = pings[kind].wait(30)
                self.assertEqual(odd, 0, pings[kind].output)
                self.assertEqual(sorted(times), list(range(1, len(steps) + 1)),
                                 pings[kind].output)
                for index, delay in enumerate(DELAYS):
                    places = range(index, len(steps), len(DELAYS))
                    ours = [milliseconds(self, lines[place]) for place in places]
                    reference = [times[place + 1] for place in places]
                    context = (delay, ours, reference)
                    self.assertGreaterEqual(min(ours), math.floor(delay), context)
                    self.assertLessEqual(abs(min(ours) - math.floor(min(reference))), 1, context)

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
