#include "status_text.h"

#include <gtest/gtest.h>

namespace {

struct StatusCase {
    DWORD status;
    const char *text;  // null: the code has no message
};

const StatusCase kCases[] = {
    {11001, "Unspecified error."},
    {11002, "Destination Unreachable: Network unreachable."},
    {11003, "Destination Unreachable: Host unreachable."},
    {11004, "Destination Unreachable: Protocol unreachable."},
    {11005, "Destination Unreachable: Port unreachable."},
    {11006, "Insufficient resources."},
    {11007, "Invalid argument."},
    {11008, "Hardware error."},
    {11009, "Destination Unreachable: Fragmentation needed, but DF-flag set."},
    {11010, "Request timed-out."},
    {11011, "Unspecified error."},
    {11012, "Destination Unreachable: Source route failed."},
    {11013, "Time Exceeded: TTL expired in transit."},
    {11014, "Time Exceeded: Fragment reassembly time exceeded."},
    {11015, "Parameter Problem: Bad IP header."},
    {11016, "Source Quench."},
    {11017, "Argument too large."},
    {11018, "Destination is invalid."},
    {11050, "Unspecified error."},
    {0, nullptr},
    {120, nullptr},
    {11000, nullptr},
    {11019, nullptr},
    {11049, nullptr},
    {11051, nullptr},
    {0xFFFFFFFFu, nullptr},
};

TEST(IcmpStatusText, MapsExactlyTheKnownCodes) {
    for (const StatusCase &c : kCases) {
        SCOPED_TRACE(c.status);
        const char *text = IcmpStatusText(c.status);
        if (c.text == nullptr) {
            EXPECT_EQ(text, nullptr);
        } else {
            ASSERT_NE(text, nullptr);
            EXPECT_STREQ(text, c.text);
        }
    }
}

TEST(IcmpStatusText, LeavesTheLastErrorAlone) {
    SetLastError(4242);
    IcmpStatusText(11010);
    IcmpStatusText(7);
    EXPECT_EQ(GetLastError(), 4242u);
}

}  // namespace
