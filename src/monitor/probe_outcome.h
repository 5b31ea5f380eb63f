// How one probe ended, as the console line and the log row report it.
#pragma once

#include "platform.h"

// Answered after roundTripMs, or failed with status (a status code).
struct ProbeOutcome {
    bool answered;
    DWORD roundTripMs;
    DWORD status;
};
