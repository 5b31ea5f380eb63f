// Building echo requests and judging what comes back, byte by byte. Nothing
// here touches a socket, so every length check can be tested and fuzzed.
#pragma once

#include <cstddef>
#include <cstdint>

const size_t kIcmpHeaderSize = 8;
const size_t kIpHeaderMinSize = 20;

const uint8_t kIcmpEchoReply = 0;
const uint8_t kIcmpDestinationUnreachable = 3;
const uint8_t kIcmpSourceQuench = 4;
const uint8_t kIcmpRedirect = 5;
const uint8_t kIcmpEchoRequest = 8;
const uint8_t kIcmpTimeExceeded = 11;
const uint8_t kIcmpParameterProblem = 12;

// What one echo request was, and so what its answers must match.
struct EchoRequestKey {
    uint32_t destination;  // network byte order
    uint16_t identifier;
    uint16_t sequence;
    const unsigned char *payload;
    size_t payloadSize;
};

enum class PacketVerdict { kIgnore, kReply, kError };

// What a received packet means for the request it is judged against.
struct PacketMeaning {
    PacketVerdict verdict;
    uint32_t status;    // kError: the echo status code
    size_t dataOffset;  // kReply: where the echoed payload starts
    uint8_t ttl;        // kReply from an IP packet: the reply's IP header fields
    uint8_t tos;
    uint8_t flags;
};

// The ones' complement sum of RFC 1071 over `size` bytes.
uint16_t InternetChecksum(const unsigned char *data, size_t size);

// Writes the echo request for `key` (header, then payload) to `out` and
// returns its length, or 0 when it does not fit in `outSize` bytes.
size_t BuildEchoRequest(const EchoRequestKey &key, unsigned char *out, size_t outSize);

// Judges an ICMP message that begins at `message` (no IP header, as a
// datagram ICMP socket delivers it) and came from `source`.
PacketMeaning ReadIcmpMessage(const unsigned char *message, size_t size, uint32_t source,
                              const EchoRequestKey &key);

// Judges a whole IPv4 packet, as a raw ICMP socket delivers it.
PacketMeaning ReadIpPacket(const unsigned char *packet, size_t size, const EchoRequestKey &key);

// Judges an ICMP error that the kernel queued for a datagram socket: its type
// and code, the copy of the offending ICMP message (`inner`, `size` bytes)
// and the destination that message was sent to.
PacketMeaning ReadQueuedIcmpError(uint8_t type, uint8_t code, const unsigned char *inner,
                                  size_t size, uint32_t destination, const EchoRequestKey &key);

// The echo status code for an ICMP error of `type` and `code`, or 0 for a
// message that is no verdict on the request (a redirect, say).
uint32_t StatusForIcmpError(uint8_t type, uint8_t code);

// The echo status code for an errno with which sending a request failed.
uint32_t StatusForSendError(int error);

// Nanoseconds from `start` until a packet arrived. `arrivalWall` is the
// kernel's wall-clock stamp of its arrival (0: none); `start` and `startWall`
// are the monotonic and the wall clock read at sending, `readMonotonic` and
// `readWall` the same two read after it was received. The stamp only counts
// when the wall clock kept pace with the monotonic one in between (within a
// millisecond, more than slewing moves it in a timeout): without a usable
// stamp (none, or the wall clock was set meanwhile) it is the time until the
// read, which the wall clock never enters.
int64_t ElapsedAtArrival(int64_t start, int64_t startWall, int64_t readMonotonic,
                         int64_t readWall, int64_t arrivalWall);
