"""Answers that are no answer to the request: redirects and malformed
replies and errors never count, with either socket kind."""

import re
import unittest

import echohost
import netlab

TIMED_OUT = "Request timed-out."

NOT_ANSWERS = [
    "error 5/0 from=10.77.0.254",
    "error 5/1 from=10.77.0.254",
    "reply bad=identifier",
    "reply bad=sequence",
    "reply bad=payload",
    "reply bad=truncated",
    "reply bad=checksum",
    "reply from=10.77.0.3",
    "error 3/1 bad=identifier",
    "error 3/1 bad=sequence",
]
# All of them at once, then the reply: the wait goes on past each of them.
ALL_THEN_REPLY = "; ".join(NOT_ANSWERS) + "; reply after=300"


class MalformedAnswers(netlab.NamespaceTest):
    def test_redirects_and_malformed_answers_never_count(self):
        steps = NOT_ANSWERS + [ALL_THEN_REPLY]
        script = {"flows": [steps], "requests": len(steps), "seconds": 90}
        runs = {kind: echohost.ScriptedRun(self, kind, script) for kind in netlab.SOCKET_KINDS}
        for kind, run in runs.items():
            with self.subTest(socket=kind):
                lines = run.lines(len(steps), 90)
                self.assertEqual(list(zip(NOT_ANSWERS, lines)),
                                 [(step, TIMED_OUT) for step in NOT_ANSWERS])
                match = re.fullmatch(r"(\d+)ms", lines[-1])
                self.assertIsNotNone(match, lines[-1])
                self.assertGreaterEqual(int(match.group(1)), 300)
                self.assertLess(int(match.group(1)), 400)
                # Every crafted answer reached the client's kernel (its
                # namespace is new, so it counted nothing else): a timeout
                # above proves something only if there was an answer to judge.
                received = run.client.icmp_counters()["InMsgs"]
                self.assertEqual(received, 2 * len(NOT_ANSWERS) + 1)


if __name__ == "__main__":
    unittest.main()
