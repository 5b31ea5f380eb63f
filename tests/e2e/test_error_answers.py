"""ICMP errors from a scripted host, as the monitor reports them with either
socket kind."""

import unittest

import echohost
import netlab

TIMED_OUT = "Request timed-out."
NET = "Destination Unreachable: Network unreachable."
HOST = "Destination Unreachable: Host unreachable."

# What each destination-unreachable code is reported as.
UNREACHABLE = {
    0: NET,
    1: HOST,
    2: "Destination Unreachable: Protocol unreachable.",
    3: "Destination Unreachable: Port unreachable.",
    4: "Destination Unreachable: Fragmentation needed, but DF-flag set.",
    5: "Destination Unreachable: Source route failed.",
    6: NET, 7: HOST, 8: HOST, 9: NET, 10: HOST, 11: NET, 12: HOST, 13: HOST, 14: HOST, 15: HOST,
}

# (step, line with a raw socket, line with a datagram socket). The kernel
# passes no datagram socket an unreachable code above 15 or a reassembly
# time-out, so there those probes time out.
CASES = [("error 3/%d" % code, text, text) for code, text in UNREACHABLE.items()] + [
    ("error 3/16", HOST, TIMED_OUT),
    ("error 3/255", HOST, TIMED_OUT),
    ("error 11/0 from=10.77.0.254", "Time Exceeded: TTL expired in transit.",
     "Time Exceeded: TTL expired in transit."),
    ("error 11/1 from=10.77.0.254", "Time Exceeded: Fragment reassembly time exceeded.", TIMED_OUT),
    ("error 12/0 from=10.77.0.254", "Parameter Problem: Bad IP header.",
     "Parameter Problem: Bad IP header."),
    ("error 4/0", "Source Quench.", "Source Quench."),
]


class ErrorAnswers(netlab.NamespaceTest):
    def test_every_error_kind_is_reported_by_its_text(self):
        steps = [step for step, _, _ in CASES]
        script = {"flows": [steps], "requests": len(steps), "seconds": 90}
        runs = {kind: echohost.ScriptedRun(self, kind, script) for kind in netlab.SOCKET_KINDS}
        for column, kind in enumerate(netlab.SOCKET_KINDS, start=1):
            with self.subTest(socket=kind):
                lines = runs[kind].lines(len(CASES), 90)
                expected = [case[column] for case in CASES]
                self.assertEqual(list(zip(steps, lines)), list(zip(steps, expected)))


if __name__ == "__main__":
    unittest.main()
