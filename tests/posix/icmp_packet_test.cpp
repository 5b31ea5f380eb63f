// What the Linux echo provider makes of the packets that reach its socket.
#include "icmp_packet.h"
#include "platform_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

const uint32_t kTarget = inet_addr("10.0.0.2");
const uint32_t kOther = inet_addr("10.0.0.3");
const uint16_t kIdentifier = 0x1234;
const uint16_t kSequence = 7;

Bytes Payload() {
    Bytes payload(32);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<unsigned char>(0xA0 + i);
    return payload;
}

const Bytes kPayload = Payload();
const EchoRequestKey kKey = {kTarget, kIdentifier, kSequence, kPayload.data(), kPayload.size()};

void Put16(Bytes &bytes, size_t at, unsigned value) {
    bytes[at] = static_cast<unsigned char>(value >> 8);
    bytes[at + 1] = static_cast<unsigned char>(value);
}

void PutAddress(Bytes &bytes, size_t at, uint32_t address) {
    std::memcpy(bytes.data() + at, &address, 4);
}

// An ICMP message with a correct checksum.
Bytes Icmp(unsigned type, unsigned code, unsigned identifier, unsigned sequence, const Bytes &body) {
    // Sized once and copied into: GCC 12 at -O3 misreads an insert that grows the vector.
    Bytes message(8 + body.size());
    message[0] = static_cast<unsigned char>(type);
    message[1] = static_cast<unsigned char>(code);
    Put16(message, 4, identifier);
    Put16(message, 6, sequence);
    std::copy(body.begin(), body.end(), message.begin() + 8);
    Put16(message, 2, InternetChecksum(message.data(), message.size()));
    return message;
}

// An IPv4 packet around `payload`, from `source` to `destination`.
Bytes Ip(uint32_t source, uint32_t destination, const Bytes &payload, unsigned protocol = 1) {
    Bytes packet(20 + payload.size());
    packet[0] = 0x45;
    Put16(packet, 2, static_cast<unsigned>(20 + payload.size()));
    packet[6] = 0x40;
    packet[8] = 57;
    packet[9] = static_cast<unsigned char>(protocol);
    PutAddress(packet, 12, source);
    PutAddress(packet, 16, destination);
    std::copy(payload.begin(), payload.end(), packet.begin() + 20);
    return packet;
}

Bytes Reply(unsigned identifier = kIdentifier, unsigned sequence = kSequence,
            const Bytes &payload = kPayload) {
    return Icmp(0, 0, identifier, sequence, payload);
}

// An ICMP error from a router that quotes a request to `destination`.
Bytes Error(unsigned type, unsigned code, unsigned identifier = kIdentifier,
            unsigned sequence = kSequence, uint32_t destination = kTarget, size_t quoted = 8) {
    Bytes request = Icmp(8, 0, identifier, sequence, kPayload);
    request.resize(quoted);
    Bytes inner = Ip(inet_addr("10.0.0.1"), destination, request);
    return Ip(kOther, inet_addr("10.0.0.1"), Icmp(type, code, 0, 0, inner));
}

Bytes WithByte(Bytes bytes, size_t at, unsigned value) {
    bytes[at] = static_cast<unsigned char>(value);
    return bytes;
}

Bytes Cut(Bytes bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

struct PacketCase {
    const char *name;
    Bytes packet;
    PacketVerdict verdict;
    uint32_t status;
};

const PacketCase kRawCases[] = {
    {"the reply", Ip(kTarget, 0, Reply()), PacketVerdict::kReply, 0},
    {"a wrong identifier", Ip(kTarget, 0, Reply(kIdentifier + 1)), PacketVerdict::kIgnore, 0},
    {"a wrong sequence", Ip(kTarget, 0, Reply(kIdentifier, kSequence - 1)), PacketVerdict::kIgnore, 0},
    {"a wrong source", Ip(kOther, 0, Reply()), PacketVerdict::kIgnore, 0},
    {"other data", Ip(kTarget, 0, Reply(kIdentifier, kSequence, Bytes(32, 1))), PacketVerdict::kIgnore, 0},
    {"a truncated reply", Ip(kTarget, 0, Reply(kIdentifier, kSequence, Cut(kPayload, 31))),
     PacketVerdict::kIgnore, 0},
    {"a bad checksum", WithByte(Ip(kTarget, 0, Reply()), 22, 0), PacketVerdict::kIgnore, 0},
    {"a cut packet", Cut(Ip(kTarget, 0, Reply()), 30), PacketVerdict::kIgnore, 0},
    {"a header longer than the packet", WithByte(Ip(kTarget, 0, Reply()), 0, 0x4F), PacketVerdict::kIgnore, 0},
    {"a header too short", WithByte(Ip(kTarget, 0, Reply()), 0, 0x44), PacketVerdict::kIgnore, 0},
    {"IPv6", WithByte(Ip(kTarget, 0, Reply()), 0, 0x65), PacketVerdict::kIgnore, 0},
    {"not ICMP", Ip(kTarget, 0, Reply(), 17), PacketVerdict::kIgnore, 0},
    {"nothing", Bytes(), PacketVerdict::kIgnore, 0},
    {"our own request", Ip(0, kTarget, Icmp(8, 0, kIdentifier, kSequence, kPayload)), PacketVerdict::kIgnore, 0},
    {"host unreachable", Error(3, 1), PacketVerdict::kError, IP_DEST_HOST_UNREACHABLE},
    {"port unreachable", Error(3, 3), PacketVerdict::kError, IP_DEST_PORT_UNREACHABLE},
    {"TTL expired", Error(11, 0), PacketVerdict::kError, IP_TTL_EXPIRED_TRANSIT},
    {"reassembly expired", Error(11, 1), PacketVerdict::kError, IP_TTL_EXPIRED_REASSEM},
    {"parameter problem", Error(12, 0), PacketVerdict::kError, IP_PARAM_PROBLEM},
    {"source quench", Error(4, 0), PacketVerdict::kError, IP_SOURCE_QUENCH},
    {"an error quoting the whole request", Error(3, 0, kIdentifier, kSequence, kTarget, 40),
     PacketVerdict::kError, IP_DEST_NET_UNREACHABLE},
    {"a redirect", Error(5, 1), PacketVerdict::kIgnore, 0},
    {"an error for another identifier", Error(3, 1, kIdentifier + 1), PacketVerdict::kIgnore, 0},
    {"an error for another sequence", Error(3, 1, kIdentifier, kSequence + 1), PacketVerdict::kIgnore, 0},
    {"an error for another host", Error(3, 1, kIdentifier, kSequence, kOther), PacketVerdict::kIgnore, 0},
    {"an error quoting too little", Error(3, 1, kIdentifier, kSequence, kTarget, 7), PacketVerdict::kIgnore, 0},
    {"an error with a bad checksum", WithByte(Error(3, 1), 23, 0xEE), PacketVerdict::kIgnore, 0},
};

TEST(IcmpPacket, RawPacketsAreJudgedAgainstTheRequest) {
    for (const PacketCase &c : kRawCases) {
        SCOPED_TRACE(c.name);
        PacketMeaning meaning = ReadIpPacket(c.packet.data(), c.packet.size(), kKey);
        EXPECT_EQ(meaning.verdict, c.verdict);
        EXPECT_EQ(meaning.status, c.status);
    }
}

TEST(IcmpPacket, ARawReplyTellsWhereItsDataIsAndItsHeaderFields) {
    Bytes packet = Ip(kTarget, 0, Reply());
    PacketMeaning meaning = ReadIpPacket(packet.data(), packet.size(), kKey);
    ASSERT_EQ(meaning.verdict, PacketVerdict::kReply);
    EXPECT_EQ(meaning.dataOffset, 28u);
    EXPECT_EQ(meaning.ttl, 57);
    EXPECT_EQ(meaning.flags, 2);  // don't fragment
}

TEST(IcmpPacket, DatagramMessagesCarryNoIpHeader) {
    Bytes reply = Reply();
    PacketMeaning meaning = ReadIcmpMessage(reply.data(), reply.size(), kTarget, kKey);
    EXPECT_EQ(meaning.verdict, PacketVerdict::kReply);
    EXPECT_EQ(meaning.dataOffset, 8u);
    EXPECT_EQ(ReadIcmpMessage(reply.data(), reply.size(), kOther, kKey).verdict, PacketVerdict::kIgnore);
    EXPECT_EQ(ReadIcmpMessage(reply.data(), 7, kTarget, kKey).verdict, PacketVerdict::kIgnore);
}

TEST(IcmpPacket, QueuedErrorsMatchByTheQuotedRequest) {
    Bytes quoted = Icmp(8, 0, kIdentifier, kSequence, kPayload);
    PacketMeaning meaning = ReadQueuedIcmpError(3, 13, quoted.data(), quoted.size(), kTarget, kKey);
    EXPECT_EQ(meaning.verdict, PacketVerdict::kError);
    EXPECT_EQ(meaning.status, IP_DEST_HOST_UNREACHABLE);
    EXPECT_EQ(ReadQueuedIcmpError(3, 13, quoted.data(), quoted.size(), kOther, kKey).verdict,
              PacketVerdict::kIgnore);
    EXPECT_EQ(ReadQueuedIcmpError(3, 13, quoted.data(), 7, kTarget, kKey).verdict, PacketVerdict::kIgnore);
    EXPECT_EQ(ReadQueuedIcmpError(5, 0, quoted.data(), quoted.size(), kTarget, kKey).verdict,
              PacketVerdict::kIgnore);
    Bytes late = Icmp(8, 0, kIdentifier, kSequence - 1, kPayload);
    EXPECT_EQ(ReadQueuedIcmpError(11, 0, late.data(), late.size(), kTarget, kKey).verdict,
              PacketVerdict::kIgnore);
}

TEST(IcmpPacket, ErrorTypesAndCodesMapToStatusCodes) {
    const uint32_t kUnreachable[16] = {11002, 11003, 11004, 11005, 11009, 11012, 11002, 11003,
                                       11003, 11002, 11003, 11002, 11003, 11003, 11003, 11003};
    for (unsigned code = 0; code < 16; ++code) {
        SCOPED_TRACE(code);
        EXPECT_EQ(StatusForIcmpError(3, static_cast<uint8_t>(code)), kUnreachable[code]);
    }
    EXPECT_EQ(StatusForIcmpError(3, 255), 11003u);
    EXPECT_EQ(StatusForIcmpError(11, 0), 11013u);
    EXPECT_EQ(StatusForIcmpError(11, 1), 11014u);
    EXPECT_EQ(StatusForIcmpError(11, 2), 11013u);
    EXPECT_EQ(StatusForIcmpError(12, 0), 11015u);
    EXPECT_EQ(StatusForIcmpError(12, 2), 11015u);
    EXPECT_EQ(StatusForIcmpError(4, 0), 11016u);
    for (unsigned type : {0u, 5u, 8u, 13u, 255u}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(StatusForIcmpError(static_cast<uint8_t>(type), 0), 0u);
    }
}

TEST(IcmpPacket, SendErrorsMapToStatusCodes) {
    const struct {
        int error;
        uint32_t status;
    } kCases[] = {{ENETUNREACH, 11002}, {EHOSTUNREACH, 11003}, {ENOBUFS, 11006}, {ENOMEM, 11006},
                  {EMSGSIZE, 11009},    {EACCES, 11050},       {EPERM, 11050},   {EINVAL, 11050}};
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(StatusForSendError(c.error), c.status);
    }
}

TEST(IcmpPacket, RoundTripsEndWhenTheReplyArrived) {
    const int64_t kMs = 1000000;
    const int64_t kStart = 5000 * kMs;       // monotonic, at sending
    const int64_t kRead = kStart + 40 * kMs;  // monotonic, after the read
    const int64_t kWall = 1700000000000 * kMs;  // the wall clock at the read
    const int64_t kSent = kWall - 40 * kMs;     // the wall clock at sending, kept pace
    const struct {
        const char *name;
        int64_t startWall;
        int64_t arrivalWall;
        int64_t elapsed;
    } kCases[] = {
        {"read at once", kSent, kWall, 40 * kMs},
        {"read 7 ms after it arrived", kSent, kWall - 7 * kMs, 33 * kMs},
        {"arrived just after sending", kSent, kWall - 40 * kMs, 0},
        {"no stamp", kSent, 0, 40 * kMs},
        {"stamped before sending: the clock was set forward", kSent, kWall - 41 * kMs, 40 * kMs},
        {"stamped after the read: the clock was set back", kSent, kWall + 1, 40 * kMs},
        {"slewed by half a millisecond meanwhile", kSent - kMs / 2, kWall - 7 * kMs, 33 * kMs},
        {"set forward 20 ms after the arrival", kSent - 20 * kMs, kWall - 27 * kMs, 40 * kMs},
        {"set back 20 ms after the arrival", kSent + 20 * kMs, kWall + 13 * kMs, 40 * kMs},
        {"set forward 20 ms before the arrival", kSent - 20 * kMs, kWall - 7 * kMs, 40 * kMs},
        {"set back an hour", kSent + 3600000 * kMs, kWall - 7 * kMs, 40 * kMs},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ElapsedAtArrival(kStart, c.startWall, kRead, kWall, c.arrivalWall), c.elapsed);
    }
}

TEST(IcmpPacket, BuildsAVerifiableRequest) {
    unsigned char out[64];
    size_t length = BuildEchoRequest(kKey, out, sizeof out);
    ASSERT_EQ(length, 40u);
    EXPECT_EQ(Bytes(out, out + length), Icmp(8, 0, kIdentifier, kSequence, kPayload));
    EXPECT_EQ(InternetChecksum(out, length), 0);
    EXPECT_EQ(BuildEchoRequest(kKey, out, 39), 0u);
    EXPECT_EQ(BuildEchoRequest(kKey, out, 4), 0u);
}

TEST(IcmpPacket, ChecksumFoldsAnOddByte) {
    const unsigned char bytes[] = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7, 0x01};
    EXPECT_EQ(InternetChecksum(bytes, 8), 0x220D);  // the worked example of RFC 1071
    EXPECT_EQ(InternetChecksum(bytes, 9), 0x210D);
}

}  // namespace
