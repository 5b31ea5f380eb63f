#include "status_text.h"

namespace {

struct StatusText {
    DWORD status;
    const char *text;
};

const char kUnspecified[] = "Unspecified error.";

const StatusText kStatusTexts[] = {
    {IP_BUF_TOO_SMALL, kUnspecified},
    {IP_DEST_NET_UNREACHABLE, "Destination Unreachable: Network unreachable."},
    {IP_DEST_HOST_UNREACHABLE, "Destination Unreachable: Host unreachable."},
    {IP_DEST_PROT_UNREACHABLE, "Destination Unreachable: Protocol unreachable."},
    {IP_DEST_PORT_UNREACHABLE, "Destination Unreachable: Port unreachable."},
    {IP_NO_RESOURCES, "Insufficient resources."},
    {IP_BAD_OPTION, "Invalid argument."},
    {IP_HW_ERROR, "Hardware error."},
    {IP_PACKET_TOO_BIG, "Destination Unreachable: Fragmentation needed, but DF-flag set."},
    {IP_REQ_TIMED_OUT, "Request timed-out."},
    {IP_BAD_REQ, kUnspecified},
    {IP_BAD_ROUTE, "Destination Unreachable: Source route failed."},
    {IP_TTL_EXPIRED_TRANSIT, "Time Exceeded: TTL expired in transit."},
    {IP_TTL_EXPIRED_REASSEM, "Time Exceeded: Fragment reassembly time exceeded."},
    {IP_PARAM_PROBLEM, "Parameter Problem: Bad IP header."},
    {IP_SOURCE_QUENCH, "Source Quench."},
    {IP_OPTION_TOO_BIG, "Argument too large."},
    {IP_BAD_DESTINATION, "Destination is invalid."},
    {IP_GENERAL_FAILURE, kUnspecified},
};

}  // namespace

const char *IcmpStatusText(DWORD status) {
    for (const StatusText &entry : kStatusTexts) {
        if (entry.status == status) return entry.text;
    }
    return nullptr;
}
