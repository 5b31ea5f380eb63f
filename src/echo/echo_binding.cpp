// The echo slots and their binding to a library loaded at run time.
#include "echo_service.h"

#include <cstdio>

IcmpCreateFileFunction pIcmpCreateFile = LazyIcmpCreateFile;
IcmpSendEchoFunction pIcmpSendEcho = IcmpSendEchoFallback;
IcmpCloseHandleFunction pIcmpCloseHandle = IcmpCloseHandleFallback;

namespace {

const size_t kPathLimit = 260;

// A looked-up entry point as the slot type `Function`.
template <typename Function>
Function EntryPoint(FARPROC entry) {
    // Through void (*)(void), the one function type any other converts to
    // without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(entry));
}

// Binds the slots to the library at `path` when it has all three functions.
bool BindLibrary(const char *path) {
    HMODULE library = LoadLibraryA(path);
    if (library == nullptr) return false;
    FARPROC create = GetProcAddress(library, "IcmpCreateFile");
    FARPROC send = create != nullptr ? GetProcAddress(library, "IcmpSendEcho") : nullptr;
    FARPROC close = send != nullptr ? GetProcAddress(library, "IcmpCloseHandle") : nullptr;
    if (close == nullptr) {
        FreeLibrary(library);
        return false;
    }
    // The library stays loaded for the rest of the process.
    pIcmpCreateFile = EntryPoint<IcmpCreateFileFunction>(create);
    pIcmpSendEcho = EntryPoint<IcmpSendEchoFunction>(send);
    pIcmpCloseHandle = EntryPoint<IcmpCloseHandleFunction>(close);
    return true;
}

}  // namespace

bool BindIcmpFunctionsFrom(SystemDirectoryQuery query, const char *const *names, size_t count) {
    char directory[kPathLimit];
    UINT length = query(directory, sizeof directory);
    if (length == 0) std::snprintf(directory, sizeof directory, ".");
    // A directory too long for the buffer is no place any library loads from.
    bool usable = length < sizeof directory;
    for (size_t i = 0; usable && i < count; ++i) {
        char path[kPathLimit];
        int formed = std::snprintf(path, sizeof path, "%s%c%s", directory, kPathSeparator, names[i]);
        if (formed < 0 || static_cast<size_t>(formed) >= sizeof path) continue;
        if (BindLibrary(path)) return true;
    }
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
}

bool BindIcmpFunctions(void) {
    return BindIcmpFunctionsFrom(GetSystemDirectoryA, kEchoLibraryNames, kEchoLibraryCount);
}

HANDLE WINAPI LazyIcmpCreateFile(void) {
    if (!BindIcmpFunctions()) return INVALID_HANDLE_VALUE;
    return pIcmpCreateFile();
}

DWORD WINAPI IcmpSendEchoFallback(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID,
                                  DWORD, DWORD) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}

BOOL WINAPI IcmpCloseHandleFallback(HANDLE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
