// A platform whose clock, pause and echo functions follow a script, linked
// into the unit tests in place of the real one.
#pragma once

#include "echo_service.h"

#include <functional>
#include <string>
#include <vector>

// What one scripted echo request does: the count it returns, the Status of
// the reply record (or the last-error code when the count is 0), the
// round-trip time, and how many stop events arrive while it waits.
struct ScriptedEcho {
    DWORD replies;
    DWORD status;
    DWORD roundTripMs;
    int stopsDuringWait;
};

// Everything the scripted platform saw, in order, one word per call.
extern std::vector<std::string> platformCalls;
// The arguments of the last echo request.
struct SentEcho {
    HANDLE handle;
    IPAddr destination;
    LPVOID requestData;
    WORD requestSize;
    PIP_OPTION_INFORMATION requestOptions;
    LPVOID replyBuffer;
    DWORD replySize;
    DWORD timeout;
};
extern std::vector<SentEcho> sentEchoes;

// What goes wrong with the day's log in one cycle: opening it fails with
// `openError`, or, when that is 0, writing it fails with `writeError` after
// writing half of the cycle's bytes (`keepHalf`) or none of them.
struct ScriptedLogFault {
    DWORD openError;
    DWORD writeError;
    bool keepHalf;
};

// The faults of the first cycles' logs, one per cycle; cycles past the end
// have none. StartScript empties it.
extern std::vector<ScriptedLogFault> scriptedLogFaults;

// Resets the platform, the running flag, the clock, the files and the slots,
// and makes the slots play `script`; the create slot fails with
// `createError` and giving up privileges with `dropError`, unless they are 0.
void StartScript(const std::vector<ScriptedEcho> &script, DWORD createError = 0,
                 bool stopDuringCreate = false, DWORD dropError = 0);

// Run on the main thread while a scripted echo request waits, and while the
// scripted pause lasts, when set; StartScript clears both.
extern std::function<void()> duringEchoWait;
extern std::function<void()> duringPause;

// What ProcessEndGraceMs grants the close, logoff and shutdown events, after
// which the platform ends the process; the others get 0. StartScript sets 0.
extern DWORD scriptedEndGraceMs;

// What the scripted clock reads; StartScript sets it to 2026-12-11 09:30:15.250.
extern SYSTEMTIME scriptedTime;

// The name the monitor gives the log of `date` (YYYY-MM-DD), in the current
// folder: "./2026-12-11.tsv" where the separator is a slash.
std::string LogName(const std::string &date);

// The bytes of the file the monitor opened as `path`: files are real, in a
// folder of the scripted platform's own. A pause taken while a file is still
// open shows in platformCalls as "log still open", and the lock on a log as
// "lock".
std::string ScriptedFile(const std::string &path);

// Puts `bytes` into the file `path` before the monitor runs.
void WriteScriptedFile(const std::string &path, const std::string &bytes);

// Everything one run of the monitor did: its exit status and its output.
struct MonitorRun {
    int status;
    std::string out;
    std::string err;
};

// Runs the monitor with `args` after the program name, capturing its output.
MonitorRun RunMonitor(std::vector<std::string> args);
