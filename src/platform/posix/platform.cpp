// POSIX implementations of the Windows calls in platform_api.h.
#include "platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/capability.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

void UtcFromUnixTime(int64_t seconds, long nanoseconds, SYSTEMTIME *time) {
    // Whole days and the second within the day, rounding toward the past.
    int64_t days = seconds / 86400;
    int64_t second = seconds % 86400;
    if (second < 0) {
        second += 86400;
        days -= 1;
    }
    // The proleptic Gregorian calendar in 400-year eras of 146097 days,
    // counted from 0000-03-01 so that the leap day ends each year.
    int64_t shifted = days + 719468;
    int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    int64_t dayOfEra = shifted - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    // 1970-01-01 was a Thursday (4, counting from Sunday as 0).
    int64_t weekday = (days % 7 + 11) % 7;
    time->wYear = static_cast<WORD>(year);
    time->wMonth = static_cast<WORD>(month);
    time->wDayOfWeek = static_cast<WORD>(weekday);
    time->wDay = static_cast<WORD>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    time->wHour = static_cast<WORD>(second / 3600);
    time->wMinute = static_cast<WORD>(second / 60 % 60);
    time->wSecond = static_cast<WORD>(second % 60);
    time->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

void GetSystemTime(SYSTEMTIME *time) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    UtcFromUnixTime(static_cast<int64_t>(now.tv_sec), now.tv_nsec, time);
}

void Sleep(DWORD milliseconds) {
    struct timespec until {};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += static_cast<time_t>(milliseconds / 1000);
    until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    // Sleeping for what is left of a fixed deadline loses no time to signals.
    // The sleep itself is relative: clock-faking preloads such as libfaketime
    // refuse an absolute monotonic deadline, and the pause must not vanish.
    for (;;) {
        struct timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        struct timespec left {until.tv_sec - now.tv_sec, until.tv_nsec - now.tv_nsec};
        if (left.tv_nsec < 0) {
            left.tv_sec -= 1;
            left.tv_nsec += 1000000000L;
        }
        if (left.tv_sec < 0 || (left.tv_sec == 0 && left.tv_nsec == 0)) return;
        int failure = clock_nanosleep(CLOCK_MONOTONIC, 0, &left, nullptr);
        if (failure != 0 && failure != EINTR) return;
    }
}

// errno is the thread's last-error code: it is per thread already, and a
// provider loaded at run time shares it with the program without either of
// them exporting a symbol.
DWORD GetLastError(void) { return static_cast<DWORD>(errno); }

void SetLastError(DWORD code) { errno = static_cast<int>(code); }

void DescribeSystemError(DWORD code, char *out, size_t size) {
    char text[128];
    snprintf(out, size, "%s", strerror_r(static_cast<int>(code), text, sizeof text));
}

namespace {

// Opens `path` write-only for appending, as any file but a regular one is.
// O_NONBLOCK only keeps a FIFO in the file's place from holding up the open
// until a reader comes (it fails instead); writes block as usual.
int OpenWriteOnly(const char *path, int flags) {
    int fd = open(path, O_WRONLY | flags, 0666);
    if (fd >= 0) fcntl(fd, F_SETFL, O_APPEND);
    return fd;
}

}  // namespace

FILE *OpenAppendFile(const char *path) {
    // O_APPEND makes each write land whole at the end, even with other writers.
    // Reading is only for the last byte of a regular file, on which O_NONBLOCK
    // changes nothing: a file this user may not read is still written, and
    // anything else is opened write-only, since a FIFO opened for reading too
    // would swallow rows that nobody reads, and a row longer than its buffer
    // would hold up the monitor for good.
    const int flags = O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK;
    int fd = open(path, O_RDWR | flags, 0666);
    struct stat status {};
    if (fd >= 0 && (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        close(fd);
        fd = OpenWriteOnly(path, flags);
    } else if (fd < 0 && errno == EACCES) {
        fd = OpenWriteOnly(path, flags);
    }
    if (fd < 0) return nullptr;
    FILE *file = fdopen(fd, "ab");
    if (file == nullptr) {
        int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

bool ReadLastByte(FILE *file, unsigned char *last) {
    int fd = fileno(file);
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) return false;
    return pread(fd, last, 1, status.st_size - 1) == 1;
}

bool LockAppendFile(FILE *file) {
    // Another monitor holds it only while it checks and writes one row.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (flock(fileno(file), LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        struct timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
    return false;
}

bool CloseAppendFile(FILE *file) { return fclose(file) == 0; }

namespace {

// Capabilities belong to each thread: every thread drops its own.
bool DropOwnCapabilities() {
    cap_t none = cap_init();
    if (none == nullptr) return false;
    int result = cap_set_proc(none);
    int error = errno;
    cap_free(none);
    errno = error;
    return result == 0;
}

const int kControlSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
const size_t kMaxHandlers = 8;

// Plain POSIX locking keeps the C++ runtime library out of the process.
pthread_mutex_t handlerLock = PTHREAD_MUTEX_INITIALIZER;
PHANDLER_ROUTINE handlers[kMaxHandlers];
size_t handlerCount = 0;
bool waiterStarted = false;

sigset_t ControlSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kControlSignals) sigaddset(&set, sig);
    return set;
}

// Names the console event that a terminal or service manager means by `sig`.
DWORD EventForSignal(int sig) {
    switch (sig) {
    case SIGINT: return CTRL_C_EVENT;
    case SIGQUIT: return CTRL_BREAK_EVENT;
    case SIGHUP: return CTRL_CLOSE_EVENT;
    default: return CTRL_SHUTDOWN_EVENT;
    }
}

// Offers the event to the handlers, newest first; returns true once one of
// them has handled it.
bool DispatchControlEvent(DWORD event) {
    PHANDLER_ROUTINE chain[kMaxHandlers];
    pthread_mutex_lock(&handlerLock);
    size_t count = handlerCount;
    for (size_t i = 0; i < count; ++i) chain[i] = handlers[i];
    pthread_mutex_unlock(&handlerLock);
    for (size_t i = count; i > 0; --i) {
        if (chain[i - 1](event)) return true;
    }
    return false;
}

// Ends the process the way the unhandled signal would have.
void DieOfSignal(int sig) {
    signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig);
}

// Runs the handlers for every control signal, outside any signal context.
void *WaitForControlSignals(void *) {
    // Nothing this thread does needs a privilege; should the drop fail, it
    // still only ever runs the handlers.
    DropOwnCapabilities();
    sigset_t set = ControlSignalSet();
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (!DispatchControlEvent(EventForSignal(sig))) DieOfSignal(sig);
    }
    return nullptr;
}

// Blocks the control signals in the calling thread, so in every thread it
// starts later, and starts the one thread that waits for them.
bool StartSignalWaiter() {
    sigset_t set = ControlSignalSet();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &set, &previous);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t waiter;
    int failure = pthread_create(&waiter, &attributes, WaitForControlSignals, nullptr);
    pthread_attr_destroy(&attributes);
    if (failure != 0) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        SetLastError(static_cast<DWORD>(failure));
        return false;
    }
    return true;
}

}  // namespace

namespace {

// Adds or removes `routine` in the handler chain; the caller holds handlerLock.
BOOL ChangeHandlers(PHANDLER_ROUTINE routine, BOOL add) {
    if (!add) {
        for (size_t i = handlerCount; i > 0; --i) {
            if (handlers[i - 1] != routine) continue;
            for (size_t j = i; j < handlerCount; ++j) handlers[j - 1] = handlers[j];
            --handlerCount;
            return TRUE;
        }
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (handlerCount == kMaxHandlers) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!waiterStarted) {
        if (!StartSignalWaiter()) return FALSE;
        waiterStarted = true;
    }
    handlers[handlerCount++] = routine;
    return TRUE;
}

}  // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
    if (routine == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    pthread_mutex_lock(&handlerLock);
    BOOL result = ChangeHandlers(routine, add);
    pthread_mutex_unlock(&handlerLock);
    return result;
}

const char *const kEchoLibraryNames[] = {"libvesperix-icmp.so"};
const size_t kEchoLibraryCount = sizeof kEchoLibraryNames / sizeof kEchoLibraryNames[0];

namespace {

// What the dynamic loader said about the last library that failed to bind.
char loaderFailure[512];

void RememberLoaderFailure(const char *what) {
    snprintf(loaderFailure, sizeof loaderFailure, "%s", what != nullptr ? what : "unknown failure");
}

}  // namespace

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    char program[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof program - 1) return 0;
    program[length] = '\0';
    // From <prefix>/bin/vesperix up to <prefix>.
    for (int level = 0; level < 2; ++level) {
        char *slash = strrchr(program, '/');
        if (slash == nullptr) return 0;
        *slash = '\0';
    }
    int needed = snprintf(nullptr, 0, "%s/lib/vesperix", program);
    if (needed < 0) return 0;
    if (static_cast<UINT>(needed) >= size) return static_cast<UINT>(needed) + 1;
    snprintf(buffer, size, "%s/lib/vesperix", program);
    return static_cast<UINT>(needed);
}

HMODULE LoadLibraryA(LPCSTR path) {
    void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        RememberLoaderFailure(dlerror());
        SetLastError(ERROR_MOD_NOT_FOUND);
    }
    return library;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    dlerror();
    void *symbol = dlsym(module, name);
    if (symbol == nullptr) {
        RememberLoaderFailure(dlerror());
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) { return dlclose(module) == 0 ? TRUE : FALSE; }

bool GiveUpPrivileges(void) { return DropOwnCapabilities(); }

// The process outlives every handled control signal: it ends only by itself.
DWORD ProcessEndGraceMs(DWORD) { return 0; }

void DescribeEchoUnavailable(DWORD error, char *out, size_t size) {
    if (error == ERROR_CALL_NOT_IMPLEMENTED) {
        snprintf(out, size, "the ICMP echo provider could not be bound: %s",
                 loaderFailure[0] != '\0' ? loaderFailure : "its path is too long");
        return;
    }
    int code = static_cast<int>(error);
    if (code == EPERM || code == EACCES) {
        snprintf(out, size,
                 "ICMP sockets are not permitted for this user: allow its group in "
                 "net.ipv4.ping_group_range or give the program CAP_NET_RAW");
        return;
    }
    char reason[128];
    DescribeSystemError(error, reason, sizeof reason);
    snprintf(out, size, "no ICMP socket could be opened: %s", reason);
}
