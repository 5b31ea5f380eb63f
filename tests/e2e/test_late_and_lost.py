"""Replies that come too late and requests that get none, with either socket
kind: each probe reports its own request's fate."""

import re
import unittest

import echohost
import netlab

TIMED_OUT = "Request timed-out."

# (step, what the probe reports: TIMED_OUT, or the least time in ms). A
# request is sent 2 s after one that timed out, so a reply 1.5 s late lands
# in the pause and one 2.4 s late in the next request's wait, where the next
# answer comes later still.
LATE = [
    ("reply after=1500", TIMED_OUT),
    ("drop", TIMED_OUT),
    ("reply after=2400", TIMED_OUT),
    ("reply after=700", 700),
    ("error 3/1 after=1500", TIMED_OUT),
    ("reply after=200", 200),
    ("error 3/1 after=2400", TIMED_OUT),
    ("reply after=700", 700),
]
LANDS_IN_PAUSE, LANDS_IN_WAIT = 1.5, 2.4


class LateAndLost(netlab.NamespaceTest):
    def check_line(self, line, expected, context):
        if expected == TIMED_OUT:
            self.assertEqual(line, TIMED_OUT, context)
            return
        match = re.fullmatch(r"(\d+)ms", line)
        self.assertIsNotNone(match, context)
        # A late answer to the request before would show as a shorter time.
        self.assertGreaterEqual(int(match.group(1)), expected, context)
        self.assertLess(int(match.group(1)), expected + 100, context)

    def test_late_replies_and_errors_never_answer_the_next_request(self):
        steps = [step for step, _ in LATE]
        script = {"flows": [steps], "requests": len(steps), "seconds": 60}
        runs = {kind: echohost.ScriptedRun(self, kind, script) for kind in netlab.SOCKET_KINDS}
        for kind, run in runs.items():
            with self.subTest(socket=kind):
                lines = run.lines(len(LATE), 40)
                for (step, expected), line in zip(LATE, lines):
                    self.check_line(line, expected, (step, lines))
                # The late answers landed where they were meant to.
                arrived = [request["arrived"] for request in run.host.requests]
                for index, (step, _) in enumerate(LATE):
                    if "after=1500" in step:
                        self.assertLess(arrived[index] + LANDS_IN_PAUSE, arrived[index + 1])
                    if "after=2400" in step:
                        self.assertLess(arrived[index + 1], arrived[index] + LANDS_IN_WAIT)

    def test_with_every_third_request_dropped_exactly_those_time_out(self):
        script = {"flows": [{"steps": ["reply", "reply", "drop"], "repeat": True}],
                  "requests": 9, "seconds": 60}
        runs = {kind: echohost.ScriptedRun(self, kind, script) for kind in netlab.SOCKET_KINDS}
        for kind, run in runs.items():
            with self.subTest(socket=kind):
                lines = run.lines(9, 40)
                answered = [line != TIMED_OUT for line in lines]
                self.assertEqual(answered, [True, True, False] * 3, lines)
                for line in lines:
                    if line != TIMED_OUT:
                        self.assertRegex(line, r"^\d+ms$")


if __name__ == "__main__":
    unittest.main()
