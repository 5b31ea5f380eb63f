#include "scripted_platform.h"

#include "probe_loop.h"
#include "stop_handler.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

std::vector<std::string> platformCalls;
std::vector<SentEcho> sentEchoes;
SYSTEMTIME scriptedTime;
std::function<void()> duringEchoWait;
std::function<void()> duringPause;
DWORD scriptedEndGraceMs = 0;
std::vector<ScriptedLogFault> scriptedLogFaults;

namespace {

thread_local DWORD lastError = 0;
std::vector<ScriptedEcho> script;
size_t nextEcho = 0;
DWORD createError = 0;
bool stopDuringCreate = false;
DWORD dropFailure = 0;
int scriptedHandle = 0;
// The thread the monitor runs on; handlers run on others.
std::thread::id mainThread = std::this_thread::get_id();

// The folder the monitor's files go to; it goes when the tests end.
struct ScriptedFolder {
    std::filesystem::path path;
    ~ScriptedFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
} folder;
// The file the monitor opened in the cycle under way, until its pause, its
// size when it was opened, whether it has been closed, and how many logs
// have been opened.
std::string openLog;
uintmax_t openLogSize = 0;
bool openLogClosed = false;
size_t opens = 0;

std::filesystem::path InScriptedFolder(const std::string &path) {
    if (folder.path.empty()) {
        auto unique = std::chrono::steady_clock::now().time_since_epoch().count();
        folder.path = std::filesystem::temp_directory_path() /
                      ("vesperix-unit-" + std::to_string(unique));
        std::filesystem::create_directory(folder.path);
    }
    return folder.path / path;
}

HANDLE WINAPI ScriptedCreate() {
    platformCalls.push_back("create");
    if (stopDuringCreate) StopHandler(CTRL_C_EVENT);
    if (createError != 0) {
        SetLastError(createError);
        return INVALID_HANDLE_VALUE;
    }
    return &scriptedHandle;
}

DWORD WINAPI ScriptedSend(HANDLE handle, IPAddr destination, LPVOID requestData, WORD requestSize,
                   PIP_OPTION_INFORMATION requestOptions, LPVOID replyBuffer, DWORD replySize,
                   DWORD timeout) {
    platformCalls.push_back("send");
    sentEchoes.push_back({handle, destination, requestData, requestSize, requestOptions,
                          replyBuffer, replySize, timeout});
    ScriptedEcho echo = nextEcho < script.size() ? script[nextEcho++] : ScriptedEcho{0, 11010, 0, 1};
    for (int i = 0; i < echo.stopsDuringWait; ++i) StopHandler(CTRL_C_EVENT);
    if (duringEchoWait) duringEchoWait();
    if (echo.replies == 0) {
        SetLastError(echo.status);
        return 0;
    }
    ICMP_ECHO_REPLY *reply = static_cast<ICMP_ECHO_REPLY *>(replyBuffer);
    reply->Status = echo.status;
    reply->RoundTripTime = echo.roundTripMs;
    // Something a careless caller might read as the status code instead.
    SetLastError(99999);
    return echo.replies;
}

BOOL WINAPI ScriptedClose(HANDLE) {
    platformCalls.push_back("close");
    return TRUE;
}

}  // namespace

void StartScript(const std::vector<ScriptedEcho> &echoes, DWORD error, bool stopEarly,
                 DWORD dropError) {
    platformCalls.clear();
    sentEchoes.clear();
    script = echoes;
    nextEcho = 0;
    createError = error;
    stopDuringCreate = stopEarly;
    dropFailure = dropError;
    scriptedTime = SYSTEMTIME{2026, 12, 5, 11, 9, 30, 15, 250};
    std::error_code ignored;
    if (!folder.path.empty()) {
        for (const auto &file : std::filesystem::directory_iterator(folder.path)) {
            std::filesystem::remove_all(file.path(), ignored);
        }
    }
    openLog.clear();
    duringEchoWait = nullptr;
    duringPause = nullptr;
    scriptedEndGraceMs = 0;
    mainThread = std::this_thread::get_id();
    opens = 0;
    scriptedLogFaults.clear();
    bRunning.store(1);
    bCycleUnderWay.store(0);
    pIcmpCreateFile = ScriptedCreate;
    pIcmpSendEcho = ScriptedSend;
    pIcmpCloseHandle = ScriptedClose;
}

void WINAPI GetSystemTime(SYSTEMTIME *time) {
    platformCalls.push_back("time");
    *time = scriptedTime;
}

void WINAPI Sleep(DWORD milliseconds) {
    // A handler's waits take real time and are no part of the monitor's calls.
    if (std::this_thread::get_id() != mainThread) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return;
    }
    if (!openLog.empty() && !openLogClosed) platformCalls.push_back("log still open");
    openLog.clear();
    platformCalls.push_back("sleep " + std::to_string(milliseconds));
    if (duringPause) duringPause();
}

DWORD ProcessEndGraceMs(DWORD event) {
    bool ending = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT ||
                  event == CTRL_SHUTDOWN_EVENT;
    return ending ? scriptedEndGraceMs : 0;
}

// The fault scripted for the cycle whose log was opened last.
ScriptedLogFault CurrentLogFault() {
    return opens <= scriptedLogFaults.size() ? scriptedLogFaults[opens - 1]
                                             : ScriptedLogFault{0, 0, false};
}

FILE *OpenAppendFile(const char *path) {
    platformCalls.push_back(std::string("open ") + path);
    ++opens;
    if (CurrentLogFault().openError != 0) {
        SetLastError(CurrentLogFault().openError);
        return nullptr;
    }
    std::filesystem::path place = InScriptedFolder(path);
    FILE *file = std::fopen(place.string().c_str(), "ab");
    if (file == nullptr) {
        SetLastError(static_cast<DWORD>(errno));
        return nullptr;
    }
    openLog = path;
    openLogSize = std::filesystem::file_size(place);
    openLogClosed = false;
    return file;
}

bool ReadLastByte(FILE *, unsigned char *last) {
    std::string bytes = ScriptedFile(openLog);
    if (bytes.empty()) return false;
    *last = static_cast<unsigned char>(bytes.back());
    return true;
}

bool LockAppendFile(FILE *) {
    platformCalls.push_back("lock");
    return true;
}

bool CloseAppendFile(FILE *file) {
    bool closed = std::fclose(file) == 0;
    openLogClosed = true;
    ScriptedLogFault fault = CurrentLogFault();
    if (!closed || fault.writeError == 0) return closed;
    // A write cut short: only the first half of this cycle's bytes, or none.
    std::filesystem::path place = InScriptedFolder(openLog);
    uintmax_t written = std::filesystem::file_size(place) - openLogSize;
    std::filesystem::resize_file(place, openLogSize + (fault.keepHalf ? written / 2 : 0));
    SetLastError(fault.writeError);
    return false;
}

void DescribeSystemError(DWORD code, char *out, size_t size) {
    std::snprintf(out, size, "system error %u", static_cast<unsigned>(code));
}

std::string LogName(const std::string &date) {
    return std::string(".") + kPathSeparator + date + ".tsv";
}

void WriteScriptedFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(InScriptedFolder(path).string(), std::ios::binary);
    out << bytes;
}

std::string ScriptedFile(const std::string &path) {
    std::ifstream in(InScriptedFolder(path).string(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

MonitorRun RunMonitor(std::vector<std::string> args) {
    args.insert(args.begin(), "vesperix");
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int status = MonitorMain(static_cast<int>(args.size()), argv.data());
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    return {status, out, err};
}

DWORD WINAPI GetLastError(void) { return lastError; }

void WINAPI SetLastError(DWORD code) { lastError = code; }

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
    platformCalls.push_back(routine == StopHandler && add ? "register" : "register other");
    return TRUE;
}

void DescribeEchoUnavailable(DWORD error, char *out, size_t size) {
    std::snprintf(out, size, "no echo handle (error %u)", static_cast<unsigned>(error));
}

bool GiveUpPrivileges(void) {
    platformCalls.push_back("drop privileges");
    if (dropFailure == 0) return true;
    SetLastError(dropFailure);
    return false;
}

// The binding is tested on its own against real libraries; here the slots
// are always replaced first, so nothing is ever loaded.
const char *const kEchoLibraryNames[] = {"unused"};
const size_t kEchoLibraryCount = 1;
UINT WINAPI GetSystemDirectoryA(LPSTR, UINT) { return 0; }
HMODULE WINAPI LoadLibraryA(LPCSTR) { return nullptr; }
FARPROC WINAPI GetProcAddress(HMODULE, LPCSTR) { return nullptr; }
BOOL WINAPI FreeLibrary(HMODULE) { return FALSE; }
