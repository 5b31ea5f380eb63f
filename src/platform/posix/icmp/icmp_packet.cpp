#include "icmp_packet.h"

#include "platform_api.h"

#include <cerrno>
#include <cstring>

namespace {

uint16_t ReadBigEndian16(const unsigned char *bytes) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

void WriteBigEndian16(unsigned char *bytes, uint16_t value) {
    bytes[0] = static_cast<unsigned char>(value >> 8);
    bytes[1] = static_cast<unsigned char>(value & 0xFF);
}

// The address at `bytes` in network byte order, as the sockets API keeps it.
uint32_t ReadAddress(const unsigned char *bytes) {
    uint32_t address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

PacketMeaning Ignored() { return {PacketVerdict::kIgnore, 0, 0, 0, 0, 0}; }

// True when the ICMP header at `header` (at least kIcmpHeaderSize bytes) is
// the echo request `key` describes.
bool IsOurRequest(const unsigned char *header, const EchoRequestKey &key) {
    return header[0] == kIcmpEchoRequest && header[1] == 0 &&
           ReadBigEndian16(header + 4) == key.identifier &&
           ReadBigEndian16(header + 6) == key.sequence;
}

// The verdict on an error whose quoted request begins at `inner`.
PacketMeaning JudgeError(uint8_t type, uint8_t code, const unsigned char *inner, size_t size,
                         const EchoRequestKey &key) {
    if (size < kIcmpHeaderSize || !IsOurRequest(inner, key)) return Ignored();
    uint32_t status = StatusForIcmpError(type, code);
    if (status == 0) return Ignored();
    return {PacketVerdict::kError, status, 0, 0, 0, 0};
}

// Length of the IPv4 header at `packet`, or 0 when it is no sound header of a
// packet `size` bytes long.
size_t IpHeaderLength(const unsigned char *packet, size_t size) {
    if (size < kIpHeaderMinSize || (packet[0] >> 4) != 4) return 0;
    size_t length = static_cast<size_t>(packet[0] & 0x0F) * 4;
    if (length < kIpHeaderMinSize || length > size) return 0;
    return length;
}

}  // namespace

uint16_t InternetChecksum(const unsigned char *data, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2) sum += ReadBigEndian16(data + i);
    if (size % 2 != 0) sum += static_cast<uint32_t>(data[size - 1]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

size_t BuildEchoRequest(const EchoRequestKey &key, unsigned char *out, size_t outSize) {
    if (outSize < kIcmpHeaderSize || key.payloadSize > outSize - kIcmpHeaderSize) return 0;
    size_t length = kIcmpHeaderSize + key.payloadSize;
    out[0] = kIcmpEchoRequest;
    out[1] = 0;
    WriteBigEndian16(out + 2, 0);
    WriteBigEndian16(out + 4, key.identifier);
    WriteBigEndian16(out + 6, key.sequence);
    if (key.payloadSize > 0) std::memmove(out + kIcmpHeaderSize, key.payload, key.payloadSize);
    WriteBigEndian16(out + 2, InternetChecksum(out, length));
    return length;
}

PacketMeaning ReadIcmpMessage(const unsigned char *message, size_t size, uint32_t source,
                              const EchoRequestKey &key) {
    if (size < kIcmpHeaderSize || InternetChecksum(message, size) != 0) return Ignored();
    uint8_t type = message[0];
    if (type == kIcmpEchoReply) {
        bool matches = message[1] == 0 && source == key.destination &&
                       ReadBigEndian16(message + 4) == key.identifier &&
                       ReadBigEndian16(message + 6) == key.sequence &&
                       size - kIcmpHeaderSize == key.payloadSize &&
                       (key.payloadSize == 0 ||
                        std::memcmp(message + kIcmpHeaderSize, key.payload, key.payloadSize) == 0);
        if (!matches) return Ignored();
        return {PacketVerdict::kReply, 0, kIcmpHeaderSize, 0, 0, 0};
    }
    if (StatusForIcmpError(type, message[1]) == 0) return Ignored();
    // The error quotes the IP header of our request and its first 8 bytes.
    const unsigned char *quoted = message + kIcmpHeaderSize;
    size_t quotedSize = size - kIcmpHeaderSize;
    size_t innerHeader = IpHeaderLength(quoted, quotedSize);
    if (innerHeader == 0 || quoted[9] != 1 || ReadAddress(quoted + 16) != key.destination) {
        return Ignored();
    }
    return JudgeError(type, message[1], quoted + innerHeader, quotedSize - innerHeader, key);
}

PacketMeaning ReadIpPacket(const unsigned char *packet, size_t size, const EchoRequestKey &key) {
    size_t header = IpHeaderLength(packet, size);
    if (header == 0 || packet[9] != 1) return Ignored();
    size_t total = ReadBigEndian16(packet + 2);
    if (total < header || total > size) return Ignored();
    PacketMeaning meaning =
        ReadIcmpMessage(packet + header, total - header, ReadAddress(packet + 12), key);
    if (meaning.verdict == PacketVerdict::kReply) {
        meaning.dataOffset += header;
        meaning.ttl = packet[8];
        meaning.tos = packet[1];
        meaning.flags = static_cast<uint8_t>(packet[6] >> 5);
    }
    return meaning;
}

PacketMeaning ReadQueuedIcmpError(uint8_t type, uint8_t code, const unsigned char *inner,
                                  size_t size, uint32_t destination, const EchoRequestKey &key) {
    if (destination != key.destination) return Ignored();
    return JudgeError(type, code, inner, size, key);
}

uint32_t StatusForIcmpError(uint8_t type, uint8_t code) {
    switch (type) {
    case kIcmpDestinationUnreachable:
        switch (code) {
        case 0: case 6: case 9: case 11: return IP_DEST_NET_UNREACHABLE;
        case 2: return IP_DEST_PROT_UNREACHABLE;
        case 3: return IP_DEST_PORT_UNREACHABLE;
        case 4: return IP_PACKET_TOO_BIG;
        case 5: return IP_BAD_ROUTE;
        default: return IP_DEST_HOST_UNREACHABLE;
        }
    case kIcmpTimeExceeded:
        return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case kIcmpParameterProblem: return IP_PARAM_PROBLEM;
    case kIcmpSourceQuench: return IP_SOURCE_QUENCH;
    default: return 0;
    }
}

uint32_t StatusForSendError(int error) {
    switch (error) {
    case ENETUNREACH: return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH: return IP_DEST_HOST_UNREACHABLE;
    case ENOBUFS: case ENOMEM: return IP_NO_RESOURCES;
    case EMSGSIZE: return IP_PACKET_TOO_BIG;
    default: return IP_GENERAL_FAILURE;
    }
}

int64_t ElapsedAtArrival(int64_t start, int64_t startWall, int64_t readMonotonic,
                         int64_t readWall, int64_t arrivalWall) {
    const int64_t kClockSlack = 1000000;
    int64_t untilRead = readMonotonic - start;
    if (arrivalWall <= 0) return untilRead;
    // A wall clock set while the request was out makes its stamps useless.
    int64_t moved = (readWall - readMonotonic) - (startWall - start);
    if (moved > kClockSlack || moved < -kClockSlack) return untilRead;
    // How long the packet lay in the socket before the program got to it.
    int64_t waited = readWall - arrivalWall;
    if (waited < 0 || waited > untilRead) return untilRead;
    return untilRead - waited;
}
