// English messages for the status codes of failed echo requests.
#pragma once

#include "platform.h"

// Returns the fixed message for `status`, or null when it has none. Leaves
// the last-error code alone.
const char *IcmpStatusText(DWORD status);
