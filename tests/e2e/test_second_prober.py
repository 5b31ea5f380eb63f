"""Probers of the same host at the same time, from the same namespace: two
monitors and a prober that is not vesperix never take each other's answers."""

import re
import unittest

import echohost
import netlab
import prober

TIMED_OUT = "Request timed-out."
HOST_UNREACHABLE = "Destination Unreachable: Host unreachable."
PROBES = 6
REQUESTS = 20

# The host tells the probers apart by the order they start in. The first
# monitor gets nothing, so any line but a timeout is an answer meant for
# another. The second gets replies and errors 900 ms late: it then sends
# about when the first does, and its answers arrive while the first waits.
# The third prober, the tests' own, gets every other reply 100 ms late, and
# an error in between.
FLOWS = [
    ["drop"],
    {"steps": ["reply after=900", "error 3/1 after=900"], "repeat": True},
    {"steps": ["reply after=100", "error 3/1 after=100"], "repeat": True},
]

# Who runs each prober, and the socket kinds that come of it.
SETUPS = {
    "raw": ("1 0", None, {"raw": 3, "icmp": 0}),
    "datagram": ("0 2147483647", None, {"raw": 0, "icmp": 3}),
    # root gets a raw socket, nobody (the second monitor) a datagram one
    "mixed": ("65534 65534", "nobody", {"raw": 2, "icmp": 1}),
}


class SecondProber(netlab.NamespaceTest):
    def start(self, group_range, second_user):
        client = netlab.Namespace(self)
        client.sysctl("net.ipv4.ping_group_range", group_range)
        _, host = echohost.scripted_host(self, client, {"flows": FLOWS,
                                                        "requests": 2 * PROBES + REQUESTS,
                                                        "seconds": 40})
        program = netlab.program_copy(self)
        monitors = []
        for number, user in enumerate((None, second_user)):
            monitors.append(netlab.Monitor(self, client, [echohost.HOST_ADDRESS], terminal=True,
                                           user=user, program=program))
            # The next prober starts once this one's first request is in.
            self.assertTrue(host.wait_for(lambda seen: len(seen) > number, 5))
        # A raw socket's identifier is its own pick: not one the host has seen.
        seen = [request["identifier"] for request in host.requests]
        third = prober.Prober(self, client, echohost.HOST_ADDRESS, REQUESTS, interval=0.3,
                              avoid=seen)
        return client, monitors, third

    def test_no_prober_takes_anothers_answers(self):
        started = {name: self.start(group_range, user)
                   for name, (group_range, user, _) in SETUPS.items()}
        # While all of them run: the socket kinds are the ones meant.
        sockets = {name: {kind: len(client.sockets(kind)) for kind in ("raw", "icmp")}
                   for name, (client, _, _) in started.items()}
        for name, (client, monitors, third) in started.items():
            with self.subTest(sockets=name):
                self.assertEqual(sockets[name], SETUPS[name][2])
                found = third.wait(30)
                first, second = monitors
                self.assertTrue(first.read_lines(lambda lines: len(lines) >= PROBES, 20),
                                first.lines)
                self.assertTrue(second.read_lines(lambda lines: len(lines) >= PROBES, 20),
                                second.lines)
                first_lines = [text for _, text in first.lines[:PROBES]]
                second_lines = [text for _, text in second.lines[:PROBES]]
                self.assertEqual(first_lines, [TIMED_OUT] * PROBES)
                for index, line in enumerate(second_lines):
                    if index % 2:
                        self.assertEqual(line, HOST_UNREACHABLE, second_lines)
                        continue
                    match = re.fullmatch(r"(\d+)ms", line)
                    self.assertIsNotNone(match, second_lines)
                    self.assertGreaterEqual(int(match.group(1)), 900, second_lines)
                # The third took one reply to each odd sequence number, on
                # time, one error to each even one, and nothing else.
                self.assertEqual(found["odd"], [], found)
                self.assertEqual(sorted(found["replies"]), list(range(1, REQUESTS + 1, 2)), found)
                for times in found["replies"].values():
                    self.assertEqual(len(times), 1, found)
                    self.assertGreaterEqual(times[0], 100, found)
                    self.assertLess(times[0], 200, found)
                self.assertEqual(found["errors"], {sequence: [[3, 1]]
                                                   for sequence in range(2, REQUESTS + 1, 2)},
                                 found)


class SequenceStart(netlab.NamespaceTest):
    """Raw sockets see every reply in their namespace: the identifier and the
    sequence number together tell a monitor's own replies apart."""

    def test_raw_sockets_start_their_sequence_numbers_at_random(self):
        client = netlab.client_namespace(self, "raw")
        _, host = echohost.scripted_host(self, client, {"other": {"steps": ["reply"],
                                                                  "repeat": True},
                                                        "requests": 4 * 3, "seconds": 20})
        for _ in range(4):
            netlab.Monitor(self, client, [echohost.HOST_ADDRESS], terminal=True)
        self.assertTrue(host.wait_for(lambda seen: len(seen) >= 4 * 3, 15), host.requests)
        flows = {}
        for request in host.requests:
            flows.setdefault(request["flow"], []).append(request["sequence"])
        # Four monitors drew four identifiers (two alike: 6 in 65536).
        self.assertEqual(len(flows), 4, host.requests)
        for sequences in flows.values():
            self.assertEqual(sequences, [(sequences[0] + n) % 0x10000 for n in range(3)])
        starts = [sequences[0] for sequences in flows.values()]
        self.assertGreater(len(set(starts)), 1, starts)
        self.assertNotEqual(starts, [1] * 4)

    def test_a_prober_with_the_same_identifier_counting_from_1_is_not_answered_to(self):
        # What a second monitor with the same identifier would do, were the
        # sequence numbers counted from 1: the same payload and the same
        # numbers at the same time, from a second address of the namespace.
        # Its replies arrive 100 ms in while the monitor waits for an answer
        # that never comes.
        client = netlab.client_namespace(self, "raw")
        script = {"flows": [["drop"], {"steps": ["reply after=100"], "repeat": True}],
                  "requests": 2 * PROBES, "seconds": 30}
        _, host = echohost.scripted_host(self, client, script)
        device = netlab.run(client.command(["ip", "-o", "link", "show", "type", "veth"]))
        name = device.stdout.split(":")[1].strip().split("@")[0]
        netlab.run(client.command(["ip", "addr", "add", "10.77.0.3/24", "dev", name]))
        monitor = netlab.Monitor(self, client, [echohost.HOST_ADDRESS], terminal=True)
        self.assertTrue(host.wait_for(lambda seen: len(seen) >= 1, 5))
        first = host.requests[0]
        # The monitor times out, so it sends every 2 s.
        twin = prober.Prober(self, client, echohost.HOST_ADDRESS, PROBES, interval=2.0,
                             identifier=first["identifier"], source="10.77.0.3", zeros=True)
        found = twin.wait(30)
        self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= PROBES, 20), monitor.lines)
        self.assertEqual(sorted(found["replies"]), list(range(1, PROBES + 1)), found)
        own = [request["sequence"] for request in host.flow(0)]
        # Should the random start fall among the twin's numbers (about 1 in
        # 5000), one of the twin's replies would be taken.
        self.assertEqual([text for _, text in monitor.lines[:PROBES]], [TIMED_OUT] * PROBES,
                         "the monitor's sequence numbers: %r" % own)


if __name__ == "__main__":
    unittest.main()
