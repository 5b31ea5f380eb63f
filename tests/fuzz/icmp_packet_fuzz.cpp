// libFuzzer target for the echo provider's packet judging. The first byte
// picks how the rest becomes a packet: as it is, or wrapped in sound IP and
// ICMP headers with correct checksums, so the fuzzer also reaches the checks
// that lie behind them.
#include "icmp_packet.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

const uint32_t kTarget = 0x0200000A;  // 10.0.0.2 in network byte order
const unsigned char kPayload[32] = {1, 2, 3, 4, 5, 6, 7, 8};
const EchoRequestKey kKey = {kTarget, 0x1234, 7, kPayload, sizeof kPayload};
const size_t kMaxInput = 4096;

// A packet that breaks what the callers rely on ends the run at once.
void Check(bool holds) {
    if (!holds) __builtin_trap();
}

void CheckMeaning(const PacketMeaning &meaning, size_t size) {
    if (meaning.verdict == PacketVerdict::kReply) {
        Check(meaning.dataOffset + kKey.payloadSize <= size);
        Check(meaning.status == 0);
    } else if (meaning.verdict == PacketVerdict::kError) {
        Check(meaning.status > 11000 && meaning.status <= 11050);
    } else {
        Check(meaning.status == 0);
    }
}

// Writes an IPv4 header for `length` bytes of ICMP from `source` to `out`.
void PutIpHeader(unsigned char *out, size_t length, uint32_t source, uint32_t destination) {
    std::memset(out, 0, 20);
    out[0] = 0x45;
    out[2] = static_cast<unsigned char>((20 + length) >> 8);
    out[3] = static_cast<unsigned char>(20 + length);
    out[9] = 1;
    std::memcpy(out + 12, &source, 4);
    std::memcpy(out + 16, &destination, 4);
}

void FixChecksum(unsigned char *icmp, size_t length) {
    icmp[2] = icmp[3] = 0;
    uint16_t sum = InternetChecksum(icmp, length);
    icmp[2] = static_cast<unsigned char>(sum >> 8);
    icmp[3] = static_cast<unsigned char>(sum);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > kMaxInput) return 0;
    uint8_t mode = data[0] % 3;
    const uint8_t *body = data + 1;
    size_t bodySize = size - 1;
    static unsigned char packet[20 + 8 + 20 + kMaxInput];
    size_t length = 0;
    if (mode == 0) {
        std::memcpy(packet, body, bodySize);
        length = bodySize;
    } else if (mode == 1 && bodySize >= 8) {
        // An ICMP message from the target with a correct checksum.
        PutIpHeader(packet, bodySize, kTarget, 0);
        std::memcpy(packet + 20, body, bodySize);
        FixChecksum(packet + 20, bodySize);
        length = 20 + bodySize;
    } else if (mode == 2 && bodySize >= 2) {
        // An error of the type and code in the first two bytes, quoting a
        // packet to the target whose ICMP part is the rest.
        size_t quoted = bodySize - 2;
        size_t icmpLength = 8 + 20 + quoted;
        PutIpHeader(packet, icmpLength, 0x0300000A, 0);
        unsigned char *icmp = packet + 20;
        std::memset(icmp, 0, 8);
        icmp[0] = body[0];
        icmp[1] = body[1];
        PutIpHeader(icmp + 8, quoted, 0, kTarget);
        std::memcpy(icmp + 28, body + 2, quoted);
        FixChecksum(icmp, icmpLength);
        length = 20 + icmpLength;
        CheckMeaning(ReadQueuedIcmpError(body[0], body[1], body + 2, quoted, kTarget, kKey), quoted);
    } else {
        return 0;
    }
    CheckMeaning(ReadIpPacket(packet, length, kKey), length);
    CheckMeaning(ReadIcmpMessage(packet, length, kTarget, kKey), length);
    if (length > 20) CheckMeaning(ReadIcmpMessage(packet + 20, length - 20, kTarget, kKey), length - 20);
    return 0;
}
