"""A scripted ICMP test host: it answers echo requests the way a script says.

It runs in a network namespace whose kernel ignores echo requests
(net.ipv4.icmp_echo_ignore_all=1). A raw ICMP socket sees each request as it
arrives; answers are whole IP packets sent on a raw socket with IP_HDRINCL, so
they may carry any source address, checksum or content. Only root may run it.

    python3 echohost.py SCRIPT      (SCRIPT: the JSON text of a script)

starts it by hand; from a test, `scripted_host` makes the namespace and the
veth link and starts it there, `EchoHost` starts it in a namespace the test
already has, and `ScriptedRun` adds a client namespace and a monitor probing
it. Either way it ends by itself: after the script's number of requests
(their answers sent) or its number of seconds, whichever comes first.

Delays count from the kernel's stamp of the request's arrival, and the host
asks for real-time scheduling, so they hold to a fraction of a millisecond
on a busy machine.

Script: a JSON object; every key may be left out.

    {"flows": [FLOW, ...],  the first prober to appear follows the first FLOW,
                            the second the second, and so on
     "other": FLOW,         probers beyond that list follow this (default: drop)
     "requests": 100,       end after this many requests ...
     "seconds": 60}         ... or after this many seconds

A prober is one (source address, echo identifier) pair: one socket of one
program. Probers are numbered in the order their first requests arrive.

FLOW is a list of STEPs, the first for the prober's first request, and so on;
or an object {"steps": [STEP, ...], "repeat": true, "then": STEP}: with
"repeat" the list starts again after its end, otherwise each request past
the end gets "then" (default "drop"); or {"random": {"seed": N, "errors":
[ANSWER, ...], "forgeries": [ANSWER, ...], "strangers": [ANSWER, ...]}}:
each request gets one of the BEHAVIOURS below at random, the same ones for
the same seed, every time and on every machine.

STEP is what one request gets: "drop" (nothing), or one or more ANSWERs
joined by ";", each sent at its own time:

    reply [after=MS] [from=ADDRESS] [bad=FAULT]
        an echo reply, MS milliseconds (a float; default 0) after the request
        arrived, from ADDRESS (default: the address the request was sent to).
        FAULT makes it malformed: identifier or sequence (off by one), payload
        (one byte changed), truncated (half the payload, a correct
        checksum), checksum (a wrong one).
    error TYPE/CODE [after=MS] [from=ADDRESS] [bad=identifier|sequence]
        an ICMP error of that type and code (3 destination unreachable,
        4 source quench, 5 redirect, 11 time exceeded, 12 parameter problem,
        or any other), quoting the request's IP header and its first 8 bytes.
        FAULT changes the quoted identifier or sequence. A redirect names the
        sender as the gateway; a fragmentation-needed error gives MTU 1000.

Examples: every third request dropped is {"steps": ["reply", "reply", "drop"],
"repeat": true}; a stretch of losses is {"steps": ["reply"] * 3 + ["drop"] * 5,
"then": "reply"}; a late reply and a junk one before a good one are
"reply after=1500" and "reply bad=checksum; reply after=300".

Output: "ready" once the sockets are open, then one JSON line per request:
{"flow": N, "index": I (the request's place in its flow), "source": ADDRESS,
"identifier": ID, "sequence": SEQ, "step": STEP, "arrived": T}, with
"behaviour": its name when the flow is random, where T is
the time the request arrived on the system's monotonic clock, in seconds
(the clock Python's time.monotonic() reads, in any namespace); and one per
answer sent, {"flow": N, "index": I, "answer": A (its place in the step),
"sent": T}, T read right before the send. "sent" minus "arrived" is the
delay the host really applied (the reply left no earlier).
"""

import heapq
import json
import os
import random
import select
import socket
import struct
import subprocess
import sys
import threading
import time

import netlab

HOST_ADDRESS = "10.77.0.2"
CLIENT_ADDRESS = "10.77.0.1"

ICMP_ECHO_REPLY = 0
ICMP_DEST_UNREACH = 3
ICMP_REDIRECT = 5
ICMP_ECHO_REQUEST = 8
ICMP_PARAMETER_PROBLEM = 12
FRAGMENTATION_NEEDED = 4

SO_TIMESTAMPNS = 35  # Linux; Python's socket module does not name it

REPLY_FAULTS = ("identifier", "sequence", "payload", "truncated", "checksum")
ERROR_FAULTS = ("identifier", "sequence")


# --- the script ---------------------------------------------------------

class ScriptError(ValueError):
    pass


def parse_answer(text):
    """One ANSWER as a dict: kind, after (seconds), source, fault, type, code."""
    words = text.split()
    if not words or words[0] not in ("reply", "error"):
        raise ScriptError("an answer starts with reply or error: %r" % text)
    answer = {"kind": words[0], "after": 0.0, "source": None, "fault": None}
    options = words[1:]
    if answer["kind"] == "error":
        if not options or "/" not in options[0]:
            raise ScriptError("error needs TYPE/CODE: %r" % text)
        kind, code = options.pop(0).split("/", 1)
        answer["type"], answer["code"] = int(kind), int(code)
        if not (0 <= answer["type"] <= 255 and 0 <= answer["code"] <= 255):
            raise ScriptError("type and code are bytes: %r" % text)
    faults = REPLY_FAULTS if answer["kind"] == "reply" else ERROR_FAULTS
    for option in options:
        key, _, value = option.partition("=")
        if key == "after":
            answer["after"] = float(value) / 1000
        elif key == "from":
            socket.inet_aton(value)
            answer["source"] = value
        elif key == "bad" and value in faults:
            answer["fault"] = value
        else:
            raise ScriptError("unknown option %r in %r" % (option, text))
    return answer


def parse_step(text):
    """One STEP as a list of answers; "drop" is the empty list."""
    if text.strip() == "drop":
        return []
    return [parse_answer(part) for part in text.split(";")]


class Flow:
    """What the requests of one prober get, in order."""

    def __init__(self, given):
        if isinstance(given, list):
            given = {"steps": given}
        self.steps = [(text, parse_step(text)) for text in given.get("steps", [])]
        self.repeat = bool(given.get("repeat", False)) and bool(self.steps)
        then = given.get("then", "drop")
        self.then = (then, parse_step(then))

    def step(self, index):
        if index < len(self.steps):
            return self.steps[index]
        if self.repeat:
            return self.steps[index % len(self.steps)]
        return self.then


# What a random flow does to a request, and how often (weights out of 100):
# "errors" are ICMP errors, "forgeries" answers that are no answer to it,
# "strangers" answers for another identifier. Delays in ms; a reply before
# 800 ms is in time, one after 1100 ms late.
BEHAVIOURS = [
    ("answer", 30), ("late", 8), ("drop", 8), ("duplicate", 8), ("forgery, then answer", 10),
    ("forgery", 5), ("error", 20), ("stranger", 6), ("stranger, then answer", 5),
]


class RandomFlow:
    def __init__(self, given):
        self.seed = int(given["seed"])
        self.lists = {name: list(given.get(name, [])) for name in ("errors", "forgeries",
                                                                   "strangers")}
        for name, texts in self.lists.items():
            if not texts:
                raise ScriptError("a random flow needs %s" % name)
            for text in texts:
                parse_step(text)

    def behaviour(self, index):
        """(name, STEP) for the request at `index`, from the seed and the index alone."""
        pick = random.Random("%d/%d" % (self.seed, index))
        name = pick.choices([b for b, _ in BEHAVIOURS], [w for _, w in BEHAVIOURS])[0]
        soon = lambda: pick.uniform(0.0, 400.0)  # noqa: E731

        def reply(after):
            return "reply after=%.1f" % after

        def one(kind, after):
            return "%s after=%.1f" % (pick.choice(self.lists[kind]), after)
        first = soon()
        second = first + pick.uniform(1.0, 400.0)
        steps = {
            "answer": lambda: reply(pick.uniform(0.0, 800.0)),
            "late": lambda: reply(pick.uniform(1100.0, 2600.0)),
            "drop": lambda: "drop",
            "duplicate": lambda: "%s; %s" % (reply(first), reply(second)),
            "forgery, then answer": lambda: "%s; %s" % (one("forgeries", first), reply(second)),
            "forgery": lambda: one("forgeries", first),
            "error": lambda: one("errors", pick.uniform(0.0, 800.0)),
            "stranger": lambda: one("strangers", first),
            "stranger, then answer": lambda: "%s; %s" % (one("strangers", first), reply(second)),
        }
        return name, steps[name]()

    def step(self, index):
        text = self.behaviour(index)[1]
        return text, parse_step(text)


def make_flow(given):
    if isinstance(given, dict) and "random" in given:
        return RandomFlow(given["random"])
    return Flow(given)


class Script:
    def __init__(self, given):
        self.flows = [make_flow(flow) for flow in given.get("flows", [])]
        self.other = make_flow(given.get("other", []))
        self.requests = int(given.get("requests", 100))
        self.seconds = float(given.get("seconds", 60))

    def flow(self, number):
        return self.flows[number] if number < len(self.flows) else self.other


# --- packets --------------------------------------------------------------

def checksum(data):
    """The ones' complement sum of RFC 1071."""
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def icmp_message(kind, code, rest, body, good_checksum=True):
    header = struct.pack("!BBH4s", kind, code, 0, rest)
    total = checksum(header + body)
    if not good_checksum:
        total ^= 0x0101
    return struct.pack("!BBH4s", kind, code, total, rest) + body


def ip_packet(source, destination, payload):
    # With IP_HDRINCL the kernel fills in the total length, the packet id and
    # the header checksum.
    return struct.pack("!BBHHHBBH4s4s", 0x45, 0, 0, 0, 0, 64, socket.IPPROTO_ICMP, 0,
                       socket.inet_aton(source), socket.inet_aton(destination)) + payload


def build_answer(answer, request):
    """The IP packet `answer` makes of `request` (a received IP packet)."""
    header_size = (request[0] & 0x0F) * 4
    asked_of = socket.inet_ntoa(request[16:20])
    client = socket.inet_ntoa(request[12:16])
    source = answer["source"] or asked_of
    echo = request[header_size:]
    identifier, sequence = struct.unpack("!HH", echo[4:8])
    fault = answer["fault"]
    if fault == "identifier":
        identifier = (identifier + 1) & 0xFFFF
    if fault == "sequence":
        sequence = (sequence + 1) & 0xFFFF
    if answer["kind"] == "reply":
        payload = echo[8:]
        if fault == "payload" and payload:
            payload = bytes([payload[0] ^ 0xFF]) + payload[1:]
        if fault == "truncated":
            payload = payload[:len(payload) // 2]
        message = icmp_message(ICMP_ECHO_REPLY, 0, struct.pack("!HH", identifier, sequence),
                               payload, good_checksum=fault != "checksum")
        return ip_packet(source, client, message)
    quoted_echo = echo[:4] + struct.pack("!HH", identifier, sequence)
    quoted = request[:header_size] + quoted_echo
    kind, code = answer["type"], answer["code"]
    rest = b"\0\0\0\0"
    if kind == ICMP_DEST_UNREACH and code == FRAGMENTATION_NEEDED:
        rest = struct.pack("!HH", 0, 1000)
    elif kind == ICMP_REDIRECT:
        rest = socket.inet_aton(source)
    elif kind == ICMP_PARAMETER_PROBLEM:
        rest = bytes([1, 0, 0, 0])
    return ip_packet(source, client, icmp_message(kind, code, rest, quoted))


def read_request(packet):
    """(client, identifier, sequence) of an echo request, or None for anything else."""
    if len(packet) < 20 or packet[0] >> 4 != 4:
        return None
    header_size = (packet[0] & 0x0F) * 4
    echo = packet[header_size:]
    if len(echo) < 8 or echo[0] != ICMP_ECHO_REQUEST or echo[1] != 0:
        return None
    identifier, sequence = struct.unpack("!HH", echo[4:8])
    return socket.inet_ntoa(packet[12:16]), identifier, sequence


# --- the host -------------------------------------------------------------

def arrival_time(ancillary):
    """The monotonic time at which the kernel received the packet."""
    now_wall, now = time.time(), time.monotonic()
    for level, kind, data in ancillary:
        if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(data) >= 16:
            seconds, nanoseconds = struct.unpack("qq", data[:16])
            lag = now_wall - (seconds + nanoseconds / 1e9)
            return now - min(max(lag, 0.0), 1.0)
    return now


def serve(script, out):
    # Real-time scheduling keeps the delays exact on a busy machine; without
    # it (no privilege) answers may come a few milliseconds late.
    try:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))
    except OSError:
        pass
    listener = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    listener.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    sender = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    out.write("ready\n")
    out.flush()
    end = time.monotonic() + script.seconds
    probers = {}
    pending = []  # (due, order, packet, client, what the answer was for)
    order = 0
    handled = 0
    while True:
        now = time.monotonic()
        while pending and pending[0][0] <= now:
            _, _, packet, client, answered = heapq.heappop(pending)
            sending = time.monotonic()
            sender.sendto(packet, (client, 0))
            out.write(json.dumps(dict(answered, sent=sending)) + "\n")
            out.flush()
        if now >= end or (handled >= script.requests and not pending):
            return
        wait = end - now
        if pending:
            wait = min(wait, pending[0][0] - now)
        if handled >= script.requests:
            time.sleep(wait)
            continue
        ready, _, _ = select.select([listener], [], [], wait)
        if not ready:
            continue
        packet, ancillary, _, _ = listener.recvmsg(65535, 256)
        arrived = arrival_time(ancillary)
        request = read_request(packet)
        if request is None:
            continue
        client, identifier, sequence = request
        key = (client, identifier)
        if key not in probers:
            probers[key] = [len(probers), 0]
        number, index = probers[key]
        probers[key][1] += 1
        handled += 1
        flow = script.flow(number)
        text, answers = flow.step(index)
        for place, answer in enumerate(answers):
            order += 1
            heapq.heappush(pending, (arrived + answer["after"], order,
                                     build_answer(answer, packet), client,
                                     {"flow": number, "index": index, "answer": place}))
        seen = {"flow": number, "index": index, "source": client, "identifier": identifier,
                "sequence": sequence, "step": text, "arrived": arrived}
        if isinstance(flow, RandomFlow):
            seen["behaviour"] = flow.behaviour(index)[0]
        out.write(json.dumps(seen) + "\n")
        out.flush()


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: echohost.py SCRIPT\n")
        return 2
    serve(Script(json.loads(argv[1])), sys.stdout)
    return 0


# --- for the tests --------------------------------------------------------

class EchoHost:
    """The scripted host, running in `namespace` until its script ends it."""

    def __init__(self, test, namespace, script):
        Script(script)  # a faulty script fails here, in the test
        command = namespace.command([sys.executable, os.path.abspath(__file__),
                                     json.dumps(script)])
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True)
        test.addCleanup(self.stop)
        self.requests = []
        self.answers = []
        self._changed = threading.Condition()
        started, _, _ = select.select([self.process.stdout], [], [], 10)
        if not started or self.process.stdout.readline() != "ready\n":
            self.process.kill()
            _, err = self.process.communicate(timeout=10)
            test.fail("the echo host did not start: " + err)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            record = json.loads(line)
            with self._changed:
                (self.answers if "sent" in record else self.requests).append(record)
                self._changed.notify_all()

    def wait_for(self, until, timeout):
        """Waits until `until(requests)` holds, at most `timeout` seconds."""
        with self._changed:
            return self._changed.wait_for(lambda: until(self.requests), timeout)

    def flow(self, number):
        """The requests seen from the `number`-th prober."""
        with self._changed:
            return [r for r in self.requests if r["flow"] == number]

    def tally(self, number):
        """{behaviour: requests} of the `number`-th prober, whose flow is random."""
        with self._changed:
            counts = {}
            for request in self.requests:
                if request["flow"] == number:
                    counts[request["behaviour"]] = counts.get(request["behaviour"], 0) + 1
            return counts

    def applied_delays(self, number, count, timeout=5):
        """{request index: seconds from its arrival to its first answer's
        send} for the `number`-th prober's answered requests, once `count` of
        them are known (at most `timeout` seconds)."""
        with self._changed:
            self._changed.wait_for(lambda: sum(a["flow"] == number and a["answer"] == 0
                                               for a in self.answers) >= count, timeout)
            arrived = {r["index"]: r["arrived"] for r in self.requests if r["flow"] == number}
            return {a["index"]: a["sent"] - arrived[a["index"]] for a in self.answers
                    if a["flow"] == number and a["answer"] == 0}

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=10)
        self._reader.join(timeout=10)
        self.process.stdout.close()
        self.process.stderr.close()


def scripted_host(test, client, script, address=HOST_ADDRESS):
    """A namespace at `address`, one veth hop from `client` (which gets
    CLIENT_ADDRESS), whose kernel ignores echo and whose echo host follows
    `script`. Returns (namespace, host)."""
    namespace = netlab.silent_host(test, client, address)
    return namespace, EchoHost(test, namespace, script)


class ScriptedRun:
    """vesperix in a client namespace of socket `kind` (see
    netlab.client_namespace), probing a scripted host that follows `script`;
    its output is a terminal, so every line arrives as it is written. Every
    line it reads is also checked against its row in the daily log."""

    def __init__(self, test, kind, script):
        self.test = test
        self.client = netlab.client_namespace(test, kind)
        self.namespace, self.host = scripted_host(test, self.client, script)
        self.monitor = netlab.Monitor(test, self.client, [HOST_ADDRESS], terminal=True)

    def lines(self, count, timeout):
        """The first `count` lines, read within `timeout` seconds; then the
        monitor is stopped."""
        monitor = self.monitor
        got = monitor.read_lines(lambda lines: len(lines) >= count, timeout)
        texts = [text for _, text in monitor.lines[:count]]
        self.test.assertTrue(got, "only %d of %d lines: %r" % (len(texts), count, texts))
        # Each line's row follows it into the day's log.
        netlab.check_log_rows(self.test, monitor.cwd, HOST_ADDRESS, texts)
        monitor.kill()
        return texts


if __name__ == "__main__":
    sys.exit(main(sys.argv))
