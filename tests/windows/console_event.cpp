// console-event EVENT PROGRAM [ARGUMENT...]
//
// A test helper: starts PROGRAM on a console of its own, with this helper's
// standard output and error, and delivers the console control event EVENT
// (ctrl-c, ctrl-break, close, logoff or shutdown) to it as soon as a line
// arrives on standard input. After close, logoff and shutdown it ends the
// program as Windows does: once the program's handler has returned, or 5 s
// after the event. Exits with the program's exit status; says on standard
// error how the program ended, and exits with 125 when it could not deliver
// the event and 124 when the program did not end within 30 s.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

struct EventName {
    const char *name;
    DWORD event;
    // Windows ends the process after these, once its handler returns.
    bool endsProcess;
};

const EventName kEvents[] = {
    {"ctrl-c", CTRL_C_EVENT, false},      {"ctrl-break", CTRL_BREAK_EVENT, false},
    {"close", CTRL_CLOSE_EVENT, true},    {"logoff", CTRL_LOGOFF_EVENT, true},
    {"shutdown", CTRL_SHUTDOWN_EVENT, true},
};

// What Windows grants a handler of the close event before it ends the process.
const DWORD kCloseGraceMs = 5000;
const DWORD kProgramEndMs = 30000;
// The exit status Windows gives a process it ends after a control event.
const UINT kControlExit = 0xC000013Au;

const EventName *FindEvent(const char *name) {
    for (const EventName &candidate : kEvents) {
        if (std::strcmp(candidate.name, name) == 0) return &candidate;
    }
    return nullptr;
}

// Joins the arguments into one command line, each in quotes. Returns false
// when they do not fit into `size` bytes.
bool FormCommandLine(int count, char **arguments, char *line, size_t size) {
    size_t used = 0;
    line[0] = '\0';
    for (int i = 0; i < count; ++i) {
        int length = std::snprintf(line + used, size - used, "%s\"%s\"", i > 0 ? " " : "",
                                   arguments[i]);
        if (length < 0 || static_cast<size_t>(length) >= size - used) return false;
        used += static_cast<size_t>(length);
    }
    return true;
}

// Blocks until a whole line or the end arrives on `input`.
void WaitForLine(HANDLE input) {
    char byte = 0;
    DWORD read = 0;
    while (ReadFile(input, &byte, 1, &read, nullptr) && read == 1 && byte != '\n') {
    }
}

// Starts `commandLine` on this process's console, with `output` and `error`
// as its standard output and error and nothing on its standard input.
bool StartProgram(char *commandLine, HANDLE output, HANDLE error, PROCESS_INFORMATION *program) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE nothing = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherited, OPEN_EXISTING, 0, nullptr);
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(error, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing;
    startup.hStdOutput = output;
    startup.hStdError = error;
    // No new process group: Windows would turn Ctrl+C off in it, and Wine
    // then drops every control event.
    BOOL started = CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, program);
    if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
    return started != 0;
}

// Runs the program's control handlers for `event` on a new thread of the
// program, the way Windows' console delivers an event to a process: at
// kernel32's CtrlRoutine, which lies at the same address in every process of
// one architecture. Returns the thread, or null.
HANDLE RunHandlersInProgram(HANDLE program, DWORD event) {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC routine = kernel32 != nullptr ? GetProcAddress(kernel32, "CtrlRoutine") : nullptr;
    if (routine == nullptr) return nullptr;
    LPTHREAD_START_ROUTINE start = nullptr;
    static_assert(sizeof start == sizeof routine, "a function address is one size");
    std::memcpy(&start, &routine, sizeof start);
    // Started suspended and then resumed: Wine leaves a remote thread created
    // without the flag suspended for good.
    HANDLE thread = CreateRemoteThread(program, nullptr, 0, start,
                                       reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(event)),
                                       CREATE_SUSPENDED, nullptr);
    if (thread != nullptr) ResumeThread(thread);
    return thread;
}

}  // namespace

int main(int argc, char **argv) {
    const EventName *event = argc >= 3 ? FindEvent(argv[1]) : nullptr;
    if (event == nullptr) {
        std::fprintf(stderr, "Usage: console-event ctrl-c|ctrl-break|close|logoff|shutdown "
                             "PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    char commandLine[4096];
    if (!FormCommandLine(argc - 2, argv + 2, commandLine, sizeof commandLine)) {
        std::fprintf(stderr, "console-event: the command line is too long\n");
        return 2;
    }
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    // A console of its own, shared with the program: a process whose output
    // goes to a pipe has none under Wine, and GenerateConsoleCtrlEvent needs
    // one. Standard output and error stay the pipes the helper got.
    FreeConsole();
    if (!AllocConsole()) {
        std::fprintf(stderr, "console-event: AllocConsole failed with error %lu\n", GetLastError());
        return 125;
    }
    PROCESS_INFORMATION program = {};
    if (!StartProgram(commandLine, output, error, &program)) {
        std::fprintf(stderr, "console-event: CreateProcess failed with error %lu\n",
                     GetLastError());
        return 125;
    }
    // The helper ignores the Ctrl+C it sends to its whole console; only now,
    // since the program would inherit that.
    SetConsoleCtrlHandler(nullptr, TRUE);
    WaitForLine(input);
    HANDLE handlers = nullptr;
    if (event->event == CTRL_C_EVENT) {
        // Only Ctrl+C goes through the console: Wine's answers Ctrl+Break
        // with STATUS_NOT_IMPLEMENTED, and Windows' console sends the other
        // three only as the console, the session or the system ends.
        if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
            std::fprintf(stderr, "console-event: GenerateConsoleCtrlEvent failed with error %lu\n",
                         GetLastError());
            TerminateProcess(program.hProcess, 1);
            return 125;
        }
    } else {
        handlers = RunHandlersInProgram(program.hProcess, event->event);
        if (handlers == nullptr) {
            std::fprintf(stderr, "console-event: no thread at CtrlRoutine (error %lu)\n",
                         GetLastError());
            TerminateProcess(program.hProcess, 1);
            return 125;
        }
    }
    if (event->endsProcess) {
        if (WaitForSingleObject(handlers, kCloseGraceMs) == WAIT_OBJECT_0) {
            std::fprintf(stderr, "console-event: ended the program once its handler returned\n");
        } else {
            std::fprintf(stderr, "console-event: ended the program %lu ms after the event, "
                                 "its handler still running\n", kCloseGraceMs);
        }
        TerminateProcess(program.hProcess, kControlExit);
    }
    if (handlers != nullptr) CloseHandle(handlers);
    if (WaitForSingleObject(program.hProcess, kProgramEndMs) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "console-event: the program did not end within %lu ms\n",
                     kProgramEndMs);
        TerminateProcess(program.hProcess, 1);
        return 124;
    }
    DWORD status = 1;
    GetExitCodeProcess(program.hProcess, &status);
    return static_cast<int>(status);
}
