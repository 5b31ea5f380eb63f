"""A tiny echo prober of the tests' own, so that a test can watch vesperix
beside a prober that is not vesperix.

It sends `count` echo requests to one address, `interval` seconds apart,
with sequence numbers from 1, and keeps every answer that carries its
identifier: replies, and ICMP errors quoting one of its requests. It uses a
datagram ICMP socket where the namespace allows one to its group (the kernel
then picks the identifier), otherwise a raw one (root only).

    python3 prober.py JSON      (JSON: {"address": ..., "count": N,
                                 "interval": S, "identifier": ID or null,
                                 "avoid": [ID, ...], "source": ADDRESS or null,
                                 "zeros": false})

prints "ready" once its socket is open, then one JSON object at its end (1 s
after its last request), and keeps its socket until its standard input ends:

    {"socket": "raw" or "datagram", "identifier": ID,
     "replies": {SEQ: [milliseconds, ...]}, "errors": {SEQ: [[TYPE, CODE], ...]},
     "odd": [what carried its identifier but answered none of its requests]}

Times run from the send to the kernel's stamp of the answer's arrival. Each
request's payload names its sequence number, or, with "zeros", it is 32 zero
bytes, as vesperix sends. From a test, `Prober` starts it in a namespace and
reads that object.
"""

import json
import os
import random
import select
import socket
import struct
import subprocess
import sys
import time

from echohost import SO_TIMESTAMPNS, checksum

IP_RECVERR = 11
ECHO_REPLY, ECHO_REQUEST = 0, 8
ERROR_TYPES = (3, 4, 11, 12)
PAYLOAD_SIZE = 32
TIMEOUT = 1.0


def payload(sequence, zeros=False):
    """Each request's own payload, so that a reply to another can't pass for
    it; or vesperix's."""
    if zeros:
        return bytes(PAYLOAD_SIZE)
    return (b"vx-prober-%05d-" % sequence).ljust(PAYLOAD_SIZE, b".")


def echo_request(identifier, sequence, zeros):
    body = payload(sequence, zeros)
    header = struct.pack("!BBHHH", ECHO_REQUEST, 0, 0, identifier, sequence)
    return struct.pack("!BBHHH", ECHO_REQUEST, 0, checksum(header + body), identifier,
                       sequence) + body


def open_socket(options):
    """(socket, kind, identifier): datagram where permitted, else raw."""
    try:
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_ICMP)
        sock.bind((options.get("source") or "0.0.0.0", 0))
        sock.setsockopt(socket.IPPROTO_IP, IP_RECVERR, 1)
        kind, identifier = "datagram", sock.getsockname()[1]
    except PermissionError:
        sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
        if options.get("source"):
            sock.bind((options["source"], 0))
        identifier = options.get("identifier")
        if identifier is None:
            taken = set(options.get("avoid", []))
            identifier = random.choice([n for n in range(1, 0x10000) if n not in taken])
        kind = "raw"
    sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    return sock, kind, identifier


def arrival(ancillary):
    for level, kind, data in ancillary:
        if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(data) >= 16:
            seconds, nanoseconds = struct.unpack("qq", data[:16])
            return seconds + nanoseconds / 1e9
    return time.time()


def judge(message, identifier):
    """(what, sequence, detail) of an ICMP message that begins at `message`:
    ("reply", SEQ, payload), ("error", SEQ, [TYPE, CODE]), or None when it is
    not about this prober's identifier."""
    if len(message) < 8:
        return None
    kind, code = message[0], message[1]
    if kind == ECHO_REPLY:
        got_identifier, sequence = struct.unpack("!HH", message[4:8])
        if got_identifier != identifier:
            return None
        good = checksum(message) == 0
        return ("reply" if good else "damaged", sequence, message[8:])
    if kind in ERROR_TYPES and len(message) >= 8 + 20:
        inner = message[8:]
        header = (inner[0] & 0x0F) * 4
        quoted = inner[header:header + 8]
        if len(quoted) < 8 or quoted[0] != ECHO_REQUEST:
            return None
        got_identifier, sequence = struct.unpack("!HH", quoted[4:8])
        if got_identifier != identifier:
            return None
        return ("error", sequence, [kind, code])
    return None


def read_queued_error(sock, identifier):
    """One error the kernel queued for a datagram socket, as judge() gives it."""
    try:
        data, ancillary, _, _ = sock.recvmsg(2048, 512, socket.MSG_ERRQUEUE | socket.MSG_DONTWAIT)
    except BlockingIOError:
        return None
    for level, kind, detail in ancillary:
        if level == socket.IPPROTO_IP and kind == IP_RECVERR and len(detail) >= 16:
            _, origin, error_type, error_code = struct.unpack("IBBB", detail[:7])
            if origin != 2 or len(data) < 8:  # SO_EE_ORIGIN_ICMP
                continue
            # The kernel gives back the request it sent, identifier included.
            _, sequence = struct.unpack("!HH", data[4:8])
            return ("error", sequence, [error_type, error_code])
    return None


def probe(options, out):
    sock, kind, identifier = open_socket(options)
    out.write("ready\n")
    out.flush()
    address, count, interval = options["address"], int(options["count"]), float(options["interval"])
    zeros = bool(options.get("zeros"))
    sent = {}
    replies, errors, odd = {}, {}, []
    start = time.monotonic()
    sequence = 0
    end = start + (count - 1) * interval + TIMEOUT
    while True:
        now = time.monotonic()
        if sequence < count and now >= start + sequence * interval:
            sequence += 1
            sent[sequence] = time.time()
            sock.sendto(echo_request(identifier, sequence, zeros), (address, 0))
            continue
        if now >= end:
            break
        due = start + sequence * interval if sequence < count else end
        ready, _, _ = select.select([sock], [], [], max(0.0, min(due, end) - now))
        if not ready:
            continue
        found = None
        stamp = time.time()
        try:
            data, ancillary, _, _ = sock.recvmsg(65535, 256, socket.MSG_DONTWAIT)
            stamp = arrival(ancillary)
            message = data
            if kind == "raw":
                message = data[(data[0] & 0x0F) * 4:]
            found = judge(message, identifier)
        except BlockingIOError:
            pass
        except OSError:
            # A datagram socket reports a queued error through its receive.
            pass
        if kind == "datagram":
            queued = read_queued_error(sock, identifier)
            while queued is not None:
                record(queued, time.time(), sent, replies, errors, odd, zeros)
                queued = read_queued_error(sock, identifier)
        if found is not None:
            record(found, stamp, sent, replies, errors, odd, zeros)
    out.write(json.dumps({"socket": kind, "identifier": identifier, "replies": replies,
                          "errors": errors, "odd": odd}) + "\n")
    out.flush()
    # A test counts the namespace's sockets while all its probers run.
    select.select([sys.stdin], [], [], 60)


def record(found, stamp, sent, replies, errors, odd, zeros):
    what, sequence, detail = found
    if sequence not in sent:
        odd.append([what, sequence])
    elif what == "reply" and detail == payload(sequence, zeros):
        replies.setdefault(sequence, []).append(round((stamp - sent[sequence]) * 1000, 3))
    elif what == "error":
        errors.setdefault(sequence, []).append(detail)
    else:
        odd.append([what, sequence])


class Prober:
    """The prober, running in `namespace` until its count is done."""

    def __init__(self, test, namespace, address, count, interval=1.0, identifier=None, avoid=(),
                 source=None, zeros=False):
        options = {"address": address, "count": count, "interval": interval,
                   "identifier": identifier, "avoid": list(avoid), "source": source,
                   "zeros": zeros}
        command = namespace.command([sys.executable, os.path.abspath(__file__),
                                     json.dumps(options)])
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        test.addCleanup(self._kill)
        started, _, _ = select.select([self.process.stdout], [], [], 10)
        if not started or self.process.stdout.readline() != "ready\n":
            self.process.kill()
            _, err = self.process.communicate(timeout=10)
            test.fail("the prober did not start: " + err)

    def wait(self, timeout):
        """Ends its standard input and waits for the end; returns its
        findings, sequence numbers as ints."""
        out, err = self.process.communicate(timeout=timeout)
        if self.process.returncode != 0:
            raise AssertionError("the prober failed: " + err)
        found = json.loads(out)
        for key in ("replies", "errors"):
            found[key] = {int(sequence): value for sequence, value in found[key].items()}
        return found

    def _kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=10)
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            stream.close()


if __name__ == "__main__":
    probe(json.loads(sys.argv[1]), sys.stdout)
