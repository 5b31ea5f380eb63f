// IcmpCreateFile, IcmpSendEcho and IcmpCloseHandle for Linux, on a datagram
// ICMP socket where net.ipv4.ping_group_range allows one, else on a raw one.
// Built as the shared library the program binds at run time; these three are
// all it exports.
#include "icmp_packet.h"
#include "platform_api.h"

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <pthread.h>

namespace {

const size_t kMaxHandles = 16;
const size_t kMaxPayload = 2048;
const size_t kReceiveSize = 60 + kIcmpHeaderSize + 60 + kMaxPayload;
const size_t kControlSize = 512;

struct EchoSocket {
    bool open;
    bool datagram;
    int fd;
    uint16_t identifier;
    uint16_t sequence;  // of the last request sent
};

// Plain POSIX locking keeps the C++ runtime library out of the process.
pthread_mutex_t tableLock = PTHREAD_MUTEX_INITIALIZER;
EchoSocket sockets[kMaxHandles];

// The open socket `handle` stands for, or null for any other value.
EchoSocket *SocketOf(HANDLE handle) {
    for (EchoSocket &entry : sockets) {
        if (static_cast<HANDLE>(&entry) == handle && entry.open) return &entry;
    }
    return nullptr;
}

int64_t Nanoseconds(const struct timespec &time) {
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

int64_t ClockNanoseconds(clockid_t clock) {
    struct timespec now {};
    clock_gettime(clock, &now);
    return Nanoseconds(now);
}

int64_t MonotonicNanoseconds() { return ClockNanoseconds(CLOCK_MONOTONIC); }

// Closes `fd` and leaves errno as the failure before it left it.
void CloseKeepingError(int fd) {
    int error = errno;
    close(fd);
    errno = error;
}

bool EnableOption(int fd, int level, int option) {
    int on = 1;
    return setsockopt(fd, level, option, &on, sizeof on) == 0;
}

// Asks the kernel to stamp each packet with its arrival, so that a round trip
// ends when the reply reached the machine, not when this process was next
// scheduled. Without stamps the time of the read serves.
void EnableArrivalStamps(int fd) { EnableOption(fd, SOL_SOCKET, SO_TIMESTAMPNS); }

// Opens an unprivileged ICMP socket; the kernel picks its echo identifier.
int OpenDatagramSocket(uint16_t *identifier) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return -1;
    struct sockaddr_in local {};
    local.sin_family = AF_INET;
    socklen_t length = sizeof local;
    bool ready = bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0 &&
                 getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0 &&
                 EnableOption(fd, IPPROTO_IP, IP_RECVERR) &&
                 EnableOption(fd, IPPROTO_IP, IP_RECVTTL) &&
                 EnableOption(fd, IPPROTO_IP, IP_RECVTOS);
    if (!ready) {
        CloseKeepingError(fd);
        return -1;
    }
    EnableArrivalStamps(fd);
    *identifier = ntohs(local.sin_port);
    return fd;
}

// Opens a raw ICMP socket that only wakes for echo replies and errors, and
// picks its identifier and the sequence number before its first request.
int OpenRawSocket(uint16_t *identifier, uint16_t *sequence) {
    int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return -1;
    struct icmp_filter filter {};
    filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) |
                    (1u << ICMP_SOURCE_QUENCH) | (1u << ICMP_TIME_EXCEEDED) |
                    (1u << ICMP_PARAMETERPROB));
    if (setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0) {
        CloseKeepingError(fd);
        return -1;
    }
    // Raw sockets see every process's replies. A random identifier keeps ours
    // apart, and a random first sequence number too when two monitors draw
    // the same identifier: counting from 1, each would take the other's.
    uint16_t random[2] = {0, 0};
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != sizeof random) {
        uint64_t mixed = static_cast<uint64_t>(MonotonicNanoseconds()) * 0x9E3779B97F4A7C15u;
        random[0] = static_cast<uint16_t>(static_cast<uint64_t>(getpid()) ^ mixed);
        random[1] = static_cast<uint16_t>(mixed >> 48);
    }
    EnableArrivalStamps(fd);
    *identifier = random[0];
    *sequence = random[1];
    return fd;
}

// The provider is loaded into the program: it leaves its failures in errno,
// which is the program's last-error code on this platform.
void SetEchoError(DWORD code) { errno = static_cast<int>(code); }

DWORD Fail(DWORD status) {
    SetEchoError(status);
    return 0;
}

// A header for receiving one message into `part`, its sender's address into
// `sender` and its control data into `control` (kControlSize bytes).
struct msghdr ReceiveHeader(struct iovec *part, struct sockaddr_in *sender, unsigned char *control) {
    struct msghdr message {};
    message.msg_name = sender;
    message.msg_namelen = sizeof *sender;
    message.msg_iov = part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = kControlSize;
    return message;
}

// Throws away errors queued since the last request: each would otherwise
// fail the next send with a stale error.
void DrainErrorQueue(int fd) {
    unsigned char data[kReceiveSize];
    unsigned char control[kControlSize];
    struct sockaddr_in origin {};
    for (int i = 0; i < 64; ++i) {
        struct iovec part = {data, sizeof data};
        struct msghdr message = ReceiveHeader(&part, &origin, control);
        if (recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) break;
    }
}

// Reads one queued error from a datagram socket and judges it; false when
// the queue is empty.
bool ReadQueuedError(int fd, const EchoRequestKey &key, PacketMeaning *meaning) {
    unsigned char data[kReceiveSize];
    unsigned char control[kControlSize];
    struct sockaddr_in origin {};
    struct iovec part = {data, sizeof data};
    struct msghdr message = ReceiveHeader(&part, &origin, control);
    ssize_t size = recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (size < 0) return false;
    *meaning = {PacketVerdict::kIgnore, 0, 0, 0, 0, 0};
    for (cmsghdr *item = CMSG_FIRSTHDR(&message); item != nullptr;
         item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level != IPPROTO_IP || item->cmsg_type != IP_RECVERR) continue;
        if (item->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) continue;
        sock_extended_err error;
        std::memcpy(&error, CMSG_DATA(item), sizeof error);
        if (error.ee_origin != SO_EE_ORIGIN_ICMP) continue;
        *meaning = ReadQueuedIcmpError(error.ee_type, error.ee_code, data,
                                       static_cast<size_t>(size), origin.sin_addr.s_addr, key);
    }
    return true;
}

// The IP header fields a datagram socket passes beside a reply.
void ReadReplyHeaderFields(msghdr *message, PacketMeaning *meaning) {
    for (cmsghdr *item = CMSG_FIRSTHDR(message); item != nullptr;
         item = CMSG_NXTHDR(message, item)) {
        if (item->cmsg_level != IPPROTO_IP) continue;
        if (item->cmsg_type == IP_TTL && item->cmsg_len >= CMSG_LEN(sizeof(int))) {
            int ttl;
            std::memcpy(&ttl, CMSG_DATA(item), sizeof ttl);
            meaning->ttl = static_cast<uint8_t>(ttl);
        } else if (item->cmsg_type == IP_TOS && item->cmsg_len >= CMSG_LEN(1)) {
            meaning->tos = *CMSG_DATA(item);
        }
    }
}

// The kernel's wall-clock stamp of a received packet's arrival, or 0.
int64_t ArrivalStamp(msghdr *message) {
    for (cmsghdr *item = CMSG_FIRSTHDR(message); item != nullptr;
         item = CMSG_NXTHDR(message, item)) {
        if (item->cmsg_level != SOL_SOCKET || item->cmsg_type != SCM_TIMESTAMPNS) continue;
        if (item->cmsg_len < CMSG_LEN(sizeof(struct timespec))) continue;
        struct timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(item), sizeof stamp);
        return Nanoseconds(stamp);
    }
    return 0;
}

// Fills the caller's reply buffer with the record for an answered request.
void StoreReply(const unsigned char *packet, const PacketMeaning &meaning, uint32_t source,
                const EchoRequestKey &key, int64_t elapsed, LPVOID replyBuffer) {
    unsigned char *buffer = static_cast<unsigned char *>(replyBuffer);
    unsigned char *data = buffer + sizeof(ICMP_ECHO_REPLY);
    std::memmove(data, packet + meaning.dataOffset, key.payloadSize);
    ICMP_ECHO_REPLY record {};
    record.Address = source;
    record.Status = IP_SUCCESS;
    record.RoundTripTime = static_cast<ULONG>(elapsed / 1000000);
    record.DataSize = static_cast<USHORT>(key.payloadSize);
    record.Data = data;
    record.Options.Ttl = meaning.ttl;
    record.Options.Tos = meaning.tos;
    record.Options.Flags = meaning.flags;
    std::memcpy(buffer, &record, sizeof record);
}

// Reads one packet from the socket and judges it; false when none is waiting.
// `arrival` gets the kernel's wall-clock stamp of its arrival, or 0.
bool ReadPacket(const EchoSocket &echo, const EchoRequestKey &key, unsigned char *packet,
                PacketMeaning *meaning, uint32_t *source, int64_t *arrival) {
    unsigned char control[kControlSize];
    struct sockaddr_in sender {};
    struct iovec part = {packet, kReceiveSize};
    struct msghdr message = ReceiveHeader(&part, &sender, control);
    ssize_t size = recvmsg(echo.fd, &message, MSG_DONTWAIT);
    // A pending socket error also fails a receive; poll reports it again.
    if (size < 0) return false;
    *source = sender.sin_addr.s_addr;
    *arrival = ArrivalStamp(&message);
    if ((message.msg_flags & MSG_TRUNC) != 0) {
        *meaning = {PacketVerdict::kIgnore, 0, 0, 0, 0, 0};
    } else if (echo.datagram) {
        *meaning = ReadIcmpMessage(packet, static_cast<size_t>(size), *source, key);
        ReadReplyHeaderFields(&message, meaning);
    } else {
        *meaning = ReadIpPacket(packet, static_cast<size_t>(size), key);
    }
    return true;
}

// Waits until `start + timeout` for the answer to the request `key` describes,
// sent at `start` on the monotonic clock and `startWall` on the wall clock.
DWORD AwaitAnswer(EchoSocket &echo, const EchoRequestKey &key, int64_t start, int64_t startWall,
                  DWORD timeout, LPVOID replyBuffer) {
    const int64_t deadline = start + static_cast<int64_t>(timeout) * 1000000;
    unsigned char packet[kReceiveSize];
    for (;;) {
        // Past the deadline the socket is still looked at once: a reply that
        // arrived in time counts, however late this process gets to it.
        int64_t remaining = deadline - MonotonicNanoseconds();
        bool last = remaining <= 0;
        if (last) remaining = 0;
        struct timespec wait = {static_cast<time_t>(remaining / 1000000000),
                                static_cast<long>(remaining % 1000000000)};
        struct pollfd ready = {echo.fd, POLLIN, 0};
        int events = ppoll(&ready, 1, &wait, nullptr);
        if (events < 0 && errno != EINTR) return Fail(IP_GENERAL_FAILURE);
        if (events <= 0 && last) return Fail(IP_REQ_TIMED_OUT);
        if (events <= 0) continue;
        if ((ready.revents & POLLERR) != 0) {
            PacketMeaning meaning {};
            bool any = false;
            while (ReadQueuedError(echo.fd, key, &meaning)) {
                any = true;
                if (meaning.verdict == PacketVerdict::kError) return Fail(meaning.status);
            }
            if (!any) {
                // A pending error with nothing queued: read it so poll stops reporting it.
                int error = 0;
                socklen_t length = sizeof error;
                getsockopt(echo.fd, SOL_SOCKET, SO_ERROR, &error, &length);
            }
        }
        if ((ready.revents & POLLIN) == 0) continue;
        PacketMeaning meaning {};
        uint32_t source = 0;
        int64_t arrival = 0;
        while (ReadPacket(echo, key, packet, &meaning, &source, &arrival)) {
            // The wall clock first: a pause between the two readings can only
            // lengthen the round trip, never shorten it.
            int64_t readWall = ClockNanoseconds(CLOCK_REALTIME);
            int64_t elapsed =
                ElapsedAtArrival(start, startWall, MonotonicNanoseconds(), readWall, arrival);
            if (elapsed >= deadline - start) return Fail(IP_REQ_TIMED_OUT);
            if (meaning.verdict == PacketVerdict::kError) return Fail(meaning.status);
            if (meaning.verdict != PacketVerdict::kReply) continue;
            StoreReply(packet, meaning, source, key, elapsed, replyBuffer);
            return 1;
        }
    }
}

// Opens a socket in a free entry of the table; the caller holds tableLock.
HANDLE OpenEchoSocket() {
    EchoSocket *entry = nullptr;
    for (EchoSocket &candidate : sockets) {
        if (!candidate.open) {
            entry = &candidate;
            break;
        }
    }
    if (entry == nullptr) {
        SetEchoError(EMFILE);
        return INVALID_HANDLE_VALUE;
    }
    uint16_t identifier = 0;
    uint16_t sequence = 0;
    bool datagram = true;
    int fd = OpenDatagramSocket(&identifier);
    if (fd < 0) {
        datagram = false;
        fd = OpenRawSocket(&identifier, &sequence);
    }
    if (fd < 0) return INVALID_HANDLE_VALUE;
    *entry = {true, datagram, fd, identifier, sequence};
    return entry;
}

}  // namespace

#define ECHO_EXPORT extern "C" __attribute__((visibility("default")))

ECHO_EXPORT HANDLE IcmpCreateFile(void) {
    pthread_mutex_lock(&tableLock);
    HANDLE handle = OpenEchoSocket();
    pthread_mutex_unlock(&tableLock);
    return handle;
}

ECHO_EXPORT DWORD IcmpSendEcho(HANDLE handle, IPAddr destination, LPVOID requestData,
                               WORD requestSize, PIP_OPTION_INFORMATION /*requestOptions*/,
                               LPVOID replyBuffer, DWORD replySize, DWORD timeout) {
    EchoSocket *echo = SocketOf(handle);
    if (echo == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (replyBuffer == nullptr || (requestData == nullptr && requestSize > 0) ||
        requestSize > kMaxPayload) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (replySize < sizeof(ICMP_ECHO_REPLY) + requestSize + 8) return Fail(IP_BUF_TOO_SMALL);
    // Text that is no address converts to one of these; neither is a host.
    if (destination == htonl(INADDR_ANY) || destination == htonl(INADDR_BROADCAST)) {
        return Fail(IP_BAD_DESTINATION);
    }
    EchoRequestKey key = {destination, echo->identifier, ++echo->sequence,
                          static_cast<const unsigned char *>(requestData), requestSize};
    // The request is copied out first: its payload may lie in the reply buffer.
    unsigned char request[kIcmpHeaderSize + kMaxPayload];
    size_t length = BuildEchoRequest(key, request, sizeof request);
    key.payload = request + kIcmpHeaderSize;
    if (echo->datagram) DrainErrorQueue(echo->fd);
    struct sockaddr_in target {};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = destination;
    // The monotonic clock first, as at the read: a pause between the two
    // readings then shows as the wall clock running behind, within the slack.
    int64_t start = MonotonicNanoseconds();
    int64_t startWall = ClockNanoseconds(CLOCK_REALTIME);
    if (sendto(echo->fd, request, length, 0, reinterpret_cast<sockaddr *>(&target),
               sizeof target) < 0) {
        return Fail(StatusForSendError(errno));
    }
    return AwaitAnswer(*echo, key, start, startWall, timeout, replyBuffer);
}

ECHO_EXPORT BOOL IcmpCloseHandle(HANDLE handle) {
    pthread_mutex_lock(&tableLock);
    EchoSocket *echo = SocketOf(handle);
    if (echo != nullptr) {
        close(echo->fd);
        *echo = {false, false, -1, 0, 0};
    }
    pthread_mutex_unlock(&tableLock);
    if (echo == nullptr) {
        SetEchoError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
